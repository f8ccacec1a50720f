// The files one run of zerkareport writes. Each is written under a temporary name beside its
// place and renamed into place only when every file of the run has been written, so a failed
// run leaves every earlier output as it was and no output is ever seen half-written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// One file being written: buffered, its first failure kept for finish().
class OutputFile {
  public:
    OutputFile(std::string path, std::string place, std::string written_as, std::FILE* stream);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Inline, so that the copies of short texts and the lengths of literals cost little: a
    // Cobertura file makes five writes per line.
    void write(const char* data, std::size_t size) {
        if (size <= kBufferSize - used_) {
            std::memcpy(buffer_.get() + used_, data, size);
            used_ += size;
        } else {
            write_through(data, size);
        }
    }
    OutputFile& operator<<(const std::string& text) {
        write(text.data(), text.size());
        return *this;
    }
    OutputFile& operator<<(const char* text) {
        write(text, std::strlen(text));
        return *this;
    }
    OutputFile& operator<<(char c) {
        write(&c, 1);
        return *this;
    }
    OutputFile& operator<<(std::uint64_t number);

    // Writes out what is buffered and closes the file; false with "<path>: <why>" in `error`.
    bool finish(std::string& error);

    const std::string& path() const { return path_; }
    const std::string& place() const { return place_; }
    const std::string& written_as() const { return written_as_; }
    bool staged() const { return written_as_ != place_; }

  private:
    static constexpr std::size_t kBufferSize = 1 << 16;

    void write_through(const char* data, std::size_t size);
    void flush();

    std::string path_;       // the output as the user named it
    std::string place_;      // the file it replaces: path_, or the file a symbolic link names
    std::string written_as_; // the temporary name, or place_ for a device or pipe
    std::FILE* stream_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    int failure_ = 0; // errno of the first failed write, -1 when it set none
};

class OutputSet {
  public:
    OutputSet() = default;
    ~OutputSet(); // removes the temporary files of a set that was not committed
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Opens `path` for writing, making its folder when missing: a temporary file beside it, or
    // the path itself when it names a device or a pipe (/dev/stdout), which cannot be renamed
    // over. Null with "<path>: <why>" in `error`.
    OutputFile* open(const std::string& path, std::string& error);

    // Removes `path` when the set is committed (a page of an earlier report that this one no
    // longer writes).
    void remove_on_commit(const std::string& path) { removals_.push_back(path); }

    // Renames every file into place, then makes the removals. Every file must be finished.
    bool commit(std::string& error);

  private:
    std::vector<std::unique_ptr<OutputFile>> files_;
    std::vector<std::string> removals_;
    bool committed_ = false;
};
