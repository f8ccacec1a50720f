#include "report/writers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

bool write_whole_file(const std::string& path, const std::string& content, std::string& error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                         std::fclose);
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    bool written = std::fwrite(content.data(), 1, content.size(), file.get()) == content.size();
    if (std::fclose(file.release()) != 0)
        written = false;
    if (!written)
        error = path + ": write failed";
    return written;
}
