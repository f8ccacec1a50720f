#include "report/output_file.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#define zerka_getpid _getpid
#else
#include <unistd.h>
#define zerka_getpid getpid
#endif

namespace fs = std::filesystem;

namespace {

std::string failure_text(int failure) {
    return failure > 0 ? std::strerror(failure) : "write failed";
}

} // namespace

OutputFile::OutputFile(std::string path, std::string place, std::string written_as,
                       std::FILE* stream)
    : path_(std::move(path)), place_(std::move(place)), written_as_(std::move(written_as)),
      stream_(stream), buffer_(new char[kBufferSize]) {}

OutputFile::~OutputFile() {
    if (stream_ != nullptr)
        std::fclose(stream_);
}

void OutputFile::write_through(const char* data, std::size_t size) {
    flush();
    if (size <= kBufferSize) {
        std::memcpy(buffer_.get(), data, size);
        used_ = size;
        return;
    }
    errno = 0;
    if (failure_ == 0 && std::fwrite(data, 1, size, stream_) != size)
        failure_ = errno != 0 ? errno : -1;
}

OutputFile& OutputFile::operator<<(std::uint64_t number) {
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof(digits), number).ptr;
    write(digits, static_cast<std::size_t>(end - digits));
    return *this;
}

void OutputFile::flush() {
    if (failure_ == 0 && used_ > 0) {
        errno = 0;
        if (std::fwrite(buffer_.get(), 1, used_, stream_) != used_)
            failure_ = errno != 0 ? errno : -1;
    }
    used_ = 0;
}

bool OutputFile::finish(std::string& error) {
    flush();
    if (stream_ != nullptr) {
        errno = 0;
        // A full disk may only show when the last block is written out.
        if (std::fclose(stream_) != 0 && failure_ == 0)
            failure_ = errno != 0 ? errno : -1;
        stream_ = nullptr;
    }
    if (failure_ == 0)
        return true;
    error = path_ + ": " + failure_text(failure_);
    return false;
}

OutputSet::~OutputSet() {
    if (committed_)
        return;
    std::error_code ignored;
    std::string unused;
    for (const auto& file : files_) {
        file->finish(unused);
        if (file->staged())
            fs::remove(file->written_as(), ignored);
    }
}

OutputFile* OutputSet::open(const std::string& path, std::string& error) {
    std::error_code failure;
    fs::path place(path);
    fs::file_status status = fs::status(place, failure);
    if (fs::is_directory(status)) {
        error = path + ": " + std::strerror(EISDIR);
        return nullptr;
    }
    // A device or a pipe is written as it is: it keeps nothing to protect. So is whatever
    // /dev/stdout and its like stand for: they name an open file, not a place.
    bool direct = (fs::exists(status) && !fs::is_regular_file(status)) ||
                  path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
    std::string written_as = path;
    if (!direct) {
        // A symbolic link keeps pointing at the file it names, which is replaced.
        if (fs::exists(status) && fs::is_symlink(fs::symlink_status(place, failure))) {
            fs::path target = fs::canonical(place, failure);
            if (!failure)
                place = target;
        }
        fs::path parent = place.parent_path();
        if (!parent.empty() && !fs::is_directory(parent, failure)) {
            fs::create_directories(parent, failure);
            if (failure) {
                error = path + ": " + failure.message();
                return nullptr;
            }
        }
        // Unique to the run and the file: two outputs may name one path.
        written_as = place.string() + ".zerkareport-" + std::to_string(zerka_getpid()) + "-" +
                     std::to_string(files_.size()) + ".tmp";
    }
    std::FILE* stream = std::fopen(written_as.c_str(), "wb");
    if (stream == nullptr) {
        error = path + ": " + std::strerror(errno);
        return nullptr;
    }
    files_.push_back(std::make_unique<OutputFile>(path, place.string(), written_as, stream));
    return files_.back().get();
}

bool OutputSet::commit(std::string& error) {
    committed_ = true;
    std::error_code failure;
    bool ok = true;
    for (const auto& file : files_) {
        if (!file->staged())
            continue;
        if (ok) {
            fs::rename(file->written_as(), file->place(), failure);
            if (!failure)
                continue;
            error = file->path() + ": " + failure.message();
            ok = false;
        }
        // Nothing after a failed rename takes its place.
        std::error_code ignored;
        fs::remove(file->written_as(), ignored);
    }
    if (!ok)
        return false;
    for (const std::string& removal : removals_)
        fs::remove(removal, failure);
    return true;
}
