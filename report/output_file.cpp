#include "report/writers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

bool write_whole_file(const std::string& path, const std::string& content, std::string& error) {
    // An output in a folder that does not exist yet gets its folder, as --html DIR does.
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code failure;
    if (!parent.empty() && !std::filesystem::is_directory(parent, failure)) {
        std::filesystem::create_directories(parent, failure);
        if (failure) {
            error = path + ": " + failure.message();
            return false;
        }
    }
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
