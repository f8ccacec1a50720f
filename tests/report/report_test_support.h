// Native helpers of zerkareport's tests: run a command, a scratch folder, whole-file access.
#pragma once

#include <string>

struct CommandResult {
    int exit_code = -1;
    std::string output; // standard output and standard error together
};

// Runs a command line through /bin/sh.
CommandResult run_command(const std::string& command);

// The zerkareport program under test, quoted for the shell.
std::string zerkareport_program();

// Runs zerkareport with `arguments` (already quoted for the shell).
CommandResult run_zerkareport(const std::string& arguments);

// Runs zerkareport; standard output and standard error apart.
CommandResult run_zerkareport_split(const std::string& arguments, std::string& errors);

// A word for /bin/sh: the text in single quotes.
std::string shell_word(const std::string& text);

// True when `program` is on PATH.
bool have_program(const std::string& program);

std::string read_text(const std::string& path);
void write_text(const std::string& path, const std::string& content);
bool file_exists(const std::string& path);

// The value of an XPath expression over an XML file, through xmllint (a failure is a test
// failure).
std::string xpath(const std::string& file, const std::string& expression);

// How often `needle` occurs in `text`.
std::size_t count_of(const std::string& text, const std::string& needle);

// A fresh folder under the temp folder, removed with its contents at the end of the test.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // With a trailing slash.
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
