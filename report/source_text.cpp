#include "report/source_text.h"

#include "report/source_paths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
// Without O_NONBLOCK, opening a FIFO would wait for a writer.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
#endif

class FileDescriptor {
  public:
    explicit FileDescriptor(const std::string& path) : fd_(::open(path.c_str(), kOpenFlags)) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

enum class Outcome { Missing, Read, Refused };

Outcome read_regular_file(const std::string& path, std::string& text, std::string& why) {
    FileDescriptor file(path);
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Outcome::Missing;
        why = std::strerror(errno);
        return Outcome::Refused;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        why = "not a regular file";
        return Outcome::Refused;
    }
    const std::string too_large = "larger than " + std::to_string(kMaxSourceBytes >> 20) + " MiB";
    if (static_cast<std::uint64_t>(status.st_size) > kMaxSourceBytes) {
        why = too_large;
        return Outcome::Refused;
    }
    text.clear();
    char buffer[1 << 16];
    for (;;) {
        auto got = ::read(file.get(), buffer, sizeof(buffer));
        if (got < 0) {
            why = std::strerror(errno);
            return Outcome::Refused;
        }
        if (got == 0)
            return Outcome::Read;
        // The file may grow after fstat: the limit holds for what is read.
        if (text.size() + static_cast<std::size_t>(got) > kMaxSourceBytes) {
            text.clear();
            why = too_large;
            return Outcome::Refused;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

} // namespace

std::vector<std::string> source_candidates(const std::string& path, const std::string& root) {
    std::vector<std::string> candidates;
    if (!root.empty() && !is_absolute_path(path))
        candidates.push_back(root + (root.back() == '/' || root.back() == '\\' ? "" : "/") + path);
    else
        candidates.push_back(path);
    bool on_z = path.size() >= 3 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':' &&
                (path[2] == '\\' || path[2] == '/');
    if (on_z) {
        std::string unix_path = path.substr(2);
        for (char& c : unix_path) {
            if (c == '\\')
                c = '/';
        }
        candidates.push_back(unix_path);
    }
    return candidates;
}

SourceText read_source(const std::string& path, const std::string& root) {
    SourceText source;
    for (const std::string& candidate : source_candidates(path, root)) {
        std::string why;
        Outcome outcome = read_regular_file(candidate, source.text, why);
        if (outcome == Outcome::Missing)
            continue;
        source.read = outcome == Outcome::Read;
        source.read_from = candidate;
        source.refused = why;
        break;
    }
    return source;
}

std::vector<std::string> source_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::size_t length = end - begin;
        if (length > 0 && text[end - 1] == '\r')
            --length;
        lines.push_back(text.substr(begin, length));
        begin = end + 1;
    }
    return lines;
}
