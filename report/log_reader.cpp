#include "report/log_reader.h"

#include "log/log_format.h"

#include <cstdio>
#include <fstream>
#include <limits>
#include <unordered_map>

namespace {

enum class Expect { FirstHeader, SecondHeader, Folder, Name, FunctionOrStatus };

// A decimal number as the log writes it ("%d": no sign), followed by a comma.
bool parse_count(const std::string& line, std::size_t& value, std::size_t& comma) {
    comma = line.find(',', 1);
    if (comma == std::string::npos || comma == 1)
        return false;
    std::size_t number = 0;
    for (std::size_t i = 1; i < comma; ++i) {
        char c = line[i];
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<std::size_t>(c - '0');
        if (number > static_cast<std::size_t>(std::numeric_limits<int>::max()))
            return false;
    }
    value = number;
    return true;
}

std::string describe_tag(char tag) {
    char text[16];
    unsigned char byte = static_cast<unsigned char>(tag);
    if (byte >= 0x20 && byte < 0x7f)
        std::snprintf(text, sizeof(text), "'%c'", tag);
    else
        std::snprintf(text, sizeof(text), "byte 0x%02X", byte);
    return text;
}

class Reader {
  public:
    explicit Reader(const std::string& path) : path_(path) {}

    LogReadResult read() {
        result_.model.runs.push_back({path_, "", "", false});
        std::ifstream in(path_, std::ios::binary);
        if (!in) {
            result_.error = path_ + ": cannot be opened";
            return std::move(result_);
        }
        // A log begins with its command record; anything else is no log cut short.
        if (in.peek() != kHeaderTag) {
            result_.error = path_ + ": not a coverage log: it does not begin with 'H'";
            return std::move(result_);
        }
        std::string line;
        std::size_t number = 0;
        bool cut = false;
        while (std::getline(in, line)) {
            ++number;
            if (in.eof()) {
                // No line feed after it: the writer stopped inside this record.
                cut = true;
                break;
            }
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!take(line, number))
                return std::move(result_);
            last_good_ = number;
        }
        if (in.bad()) {
            result_.error = path_ + ": read failed";
            return std::move(result_);
        }
        if (cut && number == 1) {
            result_.error = path_ + ": not a coverage log: it holds no line feed";
            return std::move(result_);
        }
        if (cut || expect_ != Expect::Folder) {
            result_.model.runs.back().truncated = true;
            result_.warning = path_ + ": ends inside ";
            if (expect_ == Expect::FirstHeader || expect_ == Expect::SecondHeader)
                result_.warning += "its header";
            else if (expect_ == Expect::Folder)
                result_.warning += "a record";
            else
                result_.warning += "the block of " + block_.path();
            result_.warning += " after line " + std::to_string(last_good_) +
                               "; read up to its last complete block";
        }
        result_.ok = true;
        return std::move(result_);
    }

  private:
    bool fail(std::size_t number, const std::string& what) {
        result_.error = path_ + ":" + std::to_string(number) + ": " + what;
        return false;
    }

    bool out_of_order(std::size_t number, char tag) {
        static const char* const expected[] = {"the command record (H)", "the time record (H)",
                                               "a folder record (D)", "a name record (N)",
                                               "a function (F) or status (S) record"};
        return fail(number, "record " + describe_tag(tag) + " out of order: expected " +
                                expected[static_cast<int>(expect_)]);
    }

    bool take(const std::string& line, std::size_t number) {
        if (line.empty())
            return fail(number, "empty line: no record tag");
        char tag = line[0];
        switch (tag) {
        case kHeaderTag:
            if (expect_ == Expect::FirstHeader) {
                result_.model.runs.back().command = line.substr(1);
                expect_ = Expect::SecondHeader;
            } else if (expect_ == Expect::SecondHeader) {
                result_.model.runs.back().start_time = line.substr(1);
                expect_ = Expect::Folder;
            } else {
                return out_of_order(number, tag);
            }
            return true;
        case kFolderTag:
            if (expect_ != Expect::Folder)
                return out_of_order(number, tag);
            if (line.find('\0') != std::string::npos)
                return fail(number, "folder record (D) holding a NUL byte");
            block_ = FileCoverage();
            block_.folder = line.substr(1);
            expect_ = Expect::Name;
            return true;
        case kNameTag: {
            if (expect_ != Expect::Name)
                return out_of_order(number, tag);
            std::size_t comma = 0;
            if (!parse_count(line, line_count_, comma))
                return fail(number, "name record (N) without a valid line count and a comma");
            if (line.find('\0', comma) != std::string::npos)
                return fail(number, "name record (N) holding a NUL byte");
            block_.name = line.substr(comma + 1);
            expect_ = Expect::FunctionOrStatus;
            return true;
        }
        case kFunctionTag: {
            if (expect_ != Expect::FunctionOrStatus)
                return out_of_order(number, tag);
            std::size_t start = 0, comma = 0;
            if (!parse_count(line, start, comma))
                return fail(number, "function record (F) without a valid line index and a comma");
            if (start >= line_count_)
                return fail(number, "function record (F) index " + std::to_string(start) +
                                        " beyond the line count " + std::to_string(line_count_));
            if (!starts_.empty() && start <= starts_.back())
                return fail(number, "function record (F) index " + std::to_string(start) +
                                        " not above the previous one");
            if (line.find('\0', comma) != std::string::npos)
                return fail(number, "function record (F) holding a NUL byte");
            starts_.push_back(start);
            names_.push_back(line.substr(comma + 1));
            return true;
        }
        case kStatusTag:
            if (expect_ != Expect::FunctionOrStatus)
                return out_of_order(number, tag);
            if (line.size() - 1 != line_count_)
                return fail(number, "status string (S) of " + std::to_string(line.size() - 1) +
                                        " characters for a line count of " +
                                        std::to_string(line_count_));
            for (std::size_t i = 1; i < line.size(); ++i) {
                char c = line[i];
                if (c != kLineNoCode && c != kLineNotRun && c != kLineRun)
                    return fail(number, "status character " + describe_tag(c) + " for line " +
                                            std::to_string(i));
            }
            block_.status = line.substr(1);
            finish_block();
            expect_ = Expect::Folder;
            return true;
        default:
            return fail(number, "unknown record tag " + describe_tag(tag));
        }
    }

    // Every F record opens a run that ends at the next F record or at the end of the file;
    // a function named more than once in a file owns all of its runs.
    void finish_block() {
        for (std::size_t i = 0; i < starts_.size(); ++i) {
            LineRun run{starts_[i], i + 1 < starts_.size() ? starts_[i + 1] : line_count_};
            auto known = function_index_.emplace(names_[i], block_.functions.size());
            if (known.second)
                block_.functions.push_back({std::move(names_[i]), {run}});
            else
                block_.functions[known.first->second].runs.push_back(run);
        }
        starts_.clear();
        names_.clear();
        function_index_.clear();
        result_.model.files.push_back(std::move(block_));
        block_ = FileCoverage();
    }

    std::string path_;
    LogReadResult result_;
    Expect expect_ = Expect::FirstHeader;
    FileCoverage block_;
    std::size_t line_count_ = 0;
    std::vector<std::size_t> starts_;
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::size_t> function_index_; // name to its place in block_
    std::size_t last_good_ = 0;
};

} // namespace

LogReadResult read_log(const std::string& path) {
    return Reader(path).read();
}
