#include "tests/report/report_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

CommandResult run_command(const std::string& command) {
    CommandResult result;
    std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        result.output.append(buffer, got);
    int status = pclose(pipe);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string zerkareport_program() {
    return shell_word(ZERKAREPORT_EXE);
}

CommandResult run_zerkareport(const std::string& arguments) {
    return run_command(zerkareport_program() + " " + arguments);
}

CommandResult run_zerkareport_split(const std::string& arguments, std::string& errors) {
    TempDir scratch;
    std::string error_file = scratch.path() + "stderr";
    CommandResult result = run_command("{ " + shell_word(ZERKAREPORT_EXE) + " " + arguments +
                                       " 2>" + shell_word(error_file) + "; }");
    errors = read_text(error_file);
    return result;
}

std::string shell_word(const std::string& text) {
    std::string word = "'";
    for (char c : text)
        word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

bool have_program(const std::string& program) {
    return run_command("command -v " + shell_word(program)).exit_code == 0;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool file_exists(const std::string& path) {
    return std::filesystem::exists(path);
}

std::size_t count_of(const std::string& text, const std::string& needle) {
    std::size_t count = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++count;
    return count;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zerkareport_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        std::abort();
    path_ = pattern + "/";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string xpath(const std::string& file, const std::string& expression) {
    CommandResult result =
        run_command("xmllint --xpath " + shell_word(expression) + " " + shell_word(file));
    EXPECT_EQ(result.exit_code, 0) << expression << "\n" << result.output;
    if (!result.output.empty() && result.output.back() == '\n')
        result.output.pop_back();
    return result.output;
}
