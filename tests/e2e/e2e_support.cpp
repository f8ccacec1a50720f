#include "tests/e2e/e2e_support.h"

#include "coverage/path_fold.h"
#include "generated/target_sources.h"
#include "resources/message_ids.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

// ---- Targets -----------------------------------------------------------------------------

std::string target_dir(const std::string& form) {
    return bin_dir() + "targets\\" + form + "\\";
}

std::string target_sources() {
    return kTargetSources;
}

std::string target_source(const std::string& relative) {
    std::string path = target_sources() + "\\" + relative;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

std::map<int, char> read_markers(const std::string& source_path, const std::string& mode) {
    std::map<int, char> markers;
    std::vector<std::string> lines = split_lines(read_file(source_path));
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::string qualifier;
        if (!line.empty() && line.back() == ')') {
            size_t open = line.rfind('(');
            if (open == std::string::npos)
                continue;
            qualifier = line.substr(open + 1, line.size() - open - 2);
            line.erase(open);
        }
        if (!qualifier.empty() && mode != "*" && qualifier != mode)
            continue;
        if (ends_with(line, "// hit"))
            markers[static_cast<int>(i + 1)] = '3';
        else if (ends_with(line, "// miss"))
            markers[static_cast<int>(i + 1)] = '1';
    }
    return markers;
}

int find_line(const std::string& source_path, const std::string& start) {
    std::vector<std::string> lines = split_lines(read_file(source_path));
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].compare(0, start.size(), start) == 0)
            return static_cast<int>(i + 1);
    return 0;
}

// ---- The message catalogue ---------------------------------------------------------------

namespace {

// A catalogue text cut at its conversions: literal pieces between wildcards.
std::vector<std::string> literal_pieces(const std::string& format) {
    std::vector<std::string> pieces(1);
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') {
            pieces.back() += format[i];
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            pieces.back() += '%';
            ++i;
            continue;
        }
        // Skip flags, width, precision and length up to the conversion letter.
        ++i;
        while (i < format.size() &&
               std::string("diouxXscpeEfgGaA").find(format[i]) == std::string::npos)
            ++i;
        pieces.emplace_back();
    }
    return pieces;
}

// Matches text from position at against pieces[k...], the first piece anchored; fills captures.
bool match_pieces(const std::string& text, size_t at, const std::vector<std::string>& pieces,
                  size_t k, std::vector<std::string>& captures) {
    if (text.compare(at, pieces[k].size(), pieces[k]) != 0)
        return false;
    at += pieces[k].size();
    if (k + 1 == pieces.size())
        return at == text.size();
    const std::string& next = pieces[k + 1];
    // A wildcard: try every end, the longest first (paths may hold the next piece's text).
    for (size_t end = text.size(); end + 1 > at; --end) {
        if (text.compare(end, next.size(), next) != 0)
            continue;
        captures.push_back(text.substr(at, end - at));
        if (match_pieces(text, end, pieces, k + 1, captures))
            return true;
        captures.pop_back();
        if (end == 0)
            break;
    }
    return false;
}

} // namespace

Catalogue::Catalogue() {
    module_ = LoadLibraryExA((bin_dir() + "res-en.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module_ == nullptr)
        return;
    for (unsigned id : {MSG_LIST_CANCELLED,         MSG_NO_COMMAND,
                        MSG_LOG_CREATE_FAILED,      MSG_LOG_CLOSED,
                        MSG_LAUNCH_FAILED,          MSG_BREAKPOINT_FAILED,
                        MSG_CREATE_PROCESS_FAILED,  MSG_DLL_SCAN_FAILED,
                        MSG_CONTINUE_FAILED,        MSG_TARGET_STARTING,
                        MSG_TARGET_EXITED,          MSG_MODULE_LINES_READ,
                        MSG_LOG_BODY_BEGINS,        MSG_LOG_WRITE_FAILED,
                        MSG_TARGET_ERROR_EXCEPTION, MSG_TARGET_EXIT_CODE,
                        MSG_TARGET_FAILED_TO_START, MSG_TARGET_DLL_NOT_FOUND,
                        MSG_TARGET_DLL_INIT_FAILED, MSG_TARGET_IMPORT_NOT_FOUND,
                        MSG_OTHER_ARCHITECTURE,     MSG_NO_SOURCE_MATCHED}) {
        std::string found = text(id);
        if (!found.empty())
            texts_[id] = found;
    }
}

Catalogue::~Catalogue() {
    if (module_ != nullptr)
        FreeLibrary(module_);
}

std::string Catalogue::text(unsigned id) const {
    char buffer[1024];
    int length = module_ == nullptr ? 0 : LoadStringA(module_, id, buffer, sizeof(buffer));
    return std::string(buffer, length > 0 ? length : 0);
}

Message Catalogue::classify(const std::string& line) const {
    Message best;
    best.text = line;
    size_t best_literal = 0;
    for (const auto& [id, format] : texts_) {
        std::vector<std::string> pieces = literal_pieces(format);
        size_t literal = 0;
        for (const std::string& piece : pieces)
            literal += piece.size();
        std::vector<std::string> captures;
        // The most literal text wins, so that no catch-all text swallows a specific one.
        if (literal > best_literal && match_pieces(line, 0, pieces, 0, captures)) {
            best.id = id;
            best.arguments = captures;
            best_literal = literal;
        }
    }
    return best;
}

std::vector<Message> Catalogue::classify_output(const std::string& output) const {
    std::vector<Message> messages;
    for (const std::string& line : split_lines(output))
        messages.push_back(classify(line));
    return messages;
}

std::vector<unsigned> message_ids(const std::vector<Message>& messages) {
    std::vector<unsigned> ids;
    for (const Message& message : messages)
        if (message.id != 0)
            ids.push_back(message.id);
    return ids;
}

size_t count_id(const std::vector<Message>& messages, unsigned id) {
    return std::count_if(messages.begin(), messages.end(),
                         [id](const Message& m) { return m.id == id; });
}

// ---- The coverage log --------------------------------------------------------------------

std::string parse_log(const std::string& bytes, CoverageLog& log) {
    if (bytes.find('\r') != std::string::npos)
        return "the log holds a carriage return";
    if (bytes.empty() || bytes.back() != '\n')
        return "the log does not end with a line feed";
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(bytes.substr(start, end - start));
    if (lines.size() < 2 || lines[0].empty() || lines[0][0] != 'H' || lines[1].empty() ||
        lines[1][0] != 'H')
        return "the log does not begin with two H records";
    log.command = lines[0].substr(1);
    log.time = lines[1].substr(1);
    size_t i = 2;
    while (i < lines.size()) {
        FileBlock block;
        const std::string where = " at record " + std::to_string(i + 1);
        if (lines[i].empty() || lines[i][0] != 'D')
            return "expected a D record" + where;
        block.folder = lines[i++].substr(1);
        if (i >= lines.size() || lines[i].empty() || lines[i][0] != 'N')
            return "expected an N record" + where;
        size_t comma = lines[i].find(',');
        if (comma == std::string::npos || comma < 2 ||
            lines[i].find_first_not_of("0123456789", 1) != comma)
            return "malformed N record" + where;
        block.count = std::stoi(lines[i].substr(1, comma - 1));
        block.name = lines[i++].substr(comma + 1);
        while (i < lines.size() && !lines[i].empty() && lines[i][0] == 'F') {
            comma = lines[i].find(',');
            if (comma == std::string::npos || comma < 2 ||
                lines[i].find_first_not_of("0123456789", 1) != comma)
                return "malformed F record" + where;
            block.functions.emplace_back(std::stoi(lines[i].substr(1, comma - 1)),
                                         lines[i].substr(comma + 1));
            ++i;
        }
        if (i >= lines.size() || lines[i].empty() || lines[i][0] != 'S')
            return "expected an S record" + where;
        block.status = lines[i++].substr(1);
        log.blocks.push_back(block);
    }
    return "";
}

namespace {

bool same_path(const std::string& a, const std::string& b) {
    return a.size() == b.size() && compare_paths(a.c_str(), b.c_str()) == 0;
}

} // namespace

const FileBlock* find_block(const CoverageLog& log, const std::string& relative) {
    std::string wanted = target_source(relative);
    for (const FileBlock& block : log.blocks)
        if (same_path(block.path(), wanted))
            return &block;
    return nullptr;
}

std::string check_markers(const CoverageLog& log, const std::string& relative,
                          const std::string& mode) {
    const FileBlock* block = find_block(log, relative);
    if (block == nullptr)
        return relative + ": no file block\n";
    std::map<int, char> markers = read_markers(target_source(relative), mode);
    if (markers.empty())
        return relative + ": no markers read\n";
    std::string wrong;
    for (const auto& [line, expected] : markers) {
        char got = line <= static_cast<int>(block->status.size()) ? block->status[line - 1] : '-';
        if (got != expected)
            wrong += relative + ":" + std::to_string(line) + " expected '" + expected +
                     "', log has '" + got + "'\n";
    }
    return wrong;
}

// ---- Runs --------------------------------------------------------------------------------

std::vector<std::string> log_files(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "coverage_*.log").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do
            names.push_back(found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string log_name_prefix_today() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[32];
    std::snprintf(prefix, sizeof(prefix), "coverage_%02d%02d%02d_", now.wYear % 100, now.wMonth,
                  now.wDay);
    return prefix;
}

ToolRun run_tool(const std::string& arguments, const std::string& folder, const std::string& tool) {
    ToolRun run;
    GetLocalTime(&run.before);
    std::string path = tool.empty() ? bin_dir() + "zerkacmd.exe" : tool;
    ProcessResult result = run_process("\"" + path + "\" " + arguments, folder);
    GetLocalTime(&run.after);
    run.started = result.started;
    run.start_error = result.start_error;
    run.timed_out = result.timed_out;
    run.exit_code = result.exit_code;
    run.output = result.output;
    return run;
}

namespace {

std::string time_text(const SYSTEMTIME& t) {
    char text[32];
    std::snprintf(text, sizeof(text), "%04d/%02d/%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay,
                  t.wHour, t.wMinute, t.wSecond);
    return text;
}

} // namespace

// The one log of a run in a fresh folder: named for today with counter 001, header right,
// grammar right, every block well formed and in path order.
void expect_sound_log(const ToolRun& run, const std::string& folder, const std::string& command,
                      CoverageLog& log) {
    ASSERT_TRUE(run.started) << "CreateProcessA error " << run.start_error;
    ASSERT_FALSE(run.timed_out) << run.output;
    EXPECT_EQ(run.exit_code, 0u) << run.output;
    std::vector<std::string> logs = log_files(folder);
    ASSERT_EQ(logs.size(), 1u) << run.output;
    char first_name[40];
    std::snprintf(first_name, sizeof(first_name), "coverage_%02d%02d%02d_001.log",
                  run.before.wYear % 100, run.before.wMonth, run.before.wDay);
    EXPECT_EQ(logs[0], first_name);

    std::string problem = parse_log(read_file(folder + logs[0]), log);
    ASSERT_EQ(problem, "");
    EXPECT_EQ(log.command, command);
    // The time the run began: between the moments before and after the tool ran.
    EXPECT_GE(log.time, time_text(run.before));
    EXPECT_LE(log.time, time_text(run.after));
    ASSERT_EQ(log.time.size(), 19u);

    for (size_t i = 0; i < log.blocks.size(); ++i) {
        const FileBlock& block = log.blocks[i];
        EXPECT_EQ(block.count, static_cast<int>(block.status.size())) << block.path();
        EXPECT_EQ(block.status.find_first_not_of("013"), std::string::npos) << block.path();
        ASSERT_FALSE(block.status.empty()) << block.path();
        EXPECT_NE(block.status.back(), '0') << block.path();
        EXPECT_TRUE(block.name.find_first_of("\\/") == std::string::npos) << block.name;
        if (i > 0) {
            EXPECT_LT(compare_paths(log.blocks[i - 1].path().c_str(), block.path().c_str()), 0)
                << log.blocks[i - 1].path() << " before " << block.path();
        }
    }

    // With notify window null, the run's last line is the log's announcement.
    Catalogue catalogue;
    ASSERT_TRUE(catalogue.loaded());
    std::vector<Message> messages = catalogue.classify_output(run.output);
    std::vector<unsigned> ids = message_ids(messages);
    ASSERT_FALSE(ids.empty()) << run.output;
    EXPECT_EQ(ids.back(), static_cast<unsigned>(MSG_LOG_CLOSED)) << run.output;
    for (const Message& message : messages)
        if (message.id == MSG_LOG_CLOSED) {
            EXPECT_EQ(message.arguments, std::vector<std::string>{".\\" + logs[0]});
        }
}
