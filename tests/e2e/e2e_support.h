// What the end-to-end tests share: the targets and their markers, the catalogue texts, the
// parsed coverage log and a run of the real zerkacmd.exe.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

// ---- Targets -----------------------------------------------------------------------------

// "pdb" or "dwarf": the folder of bin/targets/ that holds one form of every target.
std::string target_dir(const std::string& form);

// The targets' source folder as the targets record it (Z:\...\tests\targets, no trailing
// separator), and one source file of it by its path below that folder ("calc/main.c").
std::string target_sources();
std::string target_source(const std::string& relative);

// The status each marked line must show in a run of the given mode: line number to '3'
// (// hit) or '1' (// miss). A marker "// hit(mode)" or "// miss(mode)" holds for that mode
// only, a plain one for every mode; the mode "*" takes every marker.
std::map<int, char> read_markers(const std::string& source_path, const std::string& mode = "");

// The 1-based number of the first line of a source file that starts with the given text.
int find_line(const std::string& source_path, const std::string& start);

// ---- The message catalogue ---------------------------------------------------------------

// One message recognised in the output: its id (0 for lines that are no message, such as the
// target's own output) and the texts that filled its conversions.
struct Message {
    unsigned id = 0;
    std::vector<std::string> arguments;
    std::string text;
};

// Recognises output lines by the catalogue's texts in res-en.dll beside the tests.
class Catalogue {
  public:
    Catalogue();
    ~Catalogue();
    Catalogue(const Catalogue&) = delete;
    Catalogue& operator=(const Catalogue&) = delete;

    bool loaded() const { return module_ != nullptr; }
    HMODULE module() const { return module_; }
    std::string text(unsigned id) const;
    Message classify(const std::string& line) const;
    std::vector<Message> classify_output(const std::string& output) const;

  private:
    HMODULE module_ = nullptr;
    std::map<unsigned, std::string> texts_;
};

// The ids of the messages in their order, target output left out.
std::vector<unsigned> message_ids(const std::vector<Message>& messages);
size_t count_id(const std::vector<Message>& messages, unsigned id);

// ---- The coverage log --------------------------------------------------------------------

struct FileBlock {
    std::string folder; // D text
    int count = 0;      // N number
    std::string name;   // N name
    std::vector<std::pair<int, std::string>> functions;
    std::string status; // S text
    std::string path() const { return folder + name; }
};

struct CoverageLog {
    std::string command; // first H record
    std::string time;    // second H record, as written
    std::vector<FileBlock> blocks;
};

// Parses a log and checks its grammar: H, H, then D N F* S blocks; every line ends in LF, no
// CR anywhere. Returns an empty string on success, else what is wrong.
std::string parse_log(const std::string& bytes, CoverageLog& log);

// The block of a source file below target_sources(), found with case and separators folded;
// null when the log has none.
const FileBlock* find_block(const CoverageLog& log, const std::string& relative);

// Checks every marker of the source file against the block; returns the mismatches, one a line.
std::string check_markers(const CoverageLog& log, const std::string& relative,
                          const std::string& mode = "");

// ---- Runs --------------------------------------------------------------------------------

// The names of the coverage_*.log files in a folder, sorted.
std::vector<std::string> log_files(const std::string& folder);

// "coverage_YYMMDD_" for the local date now.
std::string log_name_prefix_today();

// Runs bin/zerkacmd.exe (or the zerkacmd.exe at `tool`) with the given arguments in the folder
// (its current folder).
struct ToolRun {
    bool started = false;
    DWORD start_error = 0; // why it did not start
    bool timed_out = false;
    DWORD exit_code = 0;
    std::string output;
    SYSTEMTIME before{}, after{};
};
ToolRun run_tool(const std::string& arguments, const std::string& folder,
                 const std::string& tool = std::string());

// The one log of a run in a fresh folder: the tool ended well, the log is named for the day the
// run began with counter 001, its header holds the command and the start time, its grammar and
// every block are sound and in path order, and the last message announces it (gtest checks).
void expect_sound_log(const ToolRun& run, const std::string& folder, const std::string& command,
                      CoverageLog& log);
