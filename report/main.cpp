// zerkareport: reads coverage logs, merges them into one coverage and writes it as a console
// table, an HTML report, Cobertura XML, an lcov tracefile and SonarQube generic coverage.
#include "report/coverage_model.h"
#include "report/exclusions.h"
#include "report/log_reader.h"
#include "report/source_paths.h"
#include "report/writers.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1; // a log refused or unreadable, or an output not written
constexpr int kExitUsage = 2;
constexpr int kExitBelowThreshold = 3; // --fail-under: the total line coverage is below it

constexpr char kUsage[] = R"(Usage: zerkareport [option...] log...

Reads the coverage logs that zerkacmd writes (one per command), merges them into one
coverage and writes it in the formats chosen. Without an output option it prints the
summary table.

Output options (several may be given at once; each may also be written --option=VALUE;
folders of output files are made when missing):
  --summary          print the summary table on standard output: one row per source
                     file (lines with code, lines reached, percent) and a total row.
                     The default when no other output is chosen.
  --functions        list each file's functions under it in the summary table
                     (prints the table, as --summary does).
  --html DIR         write an HTML report into DIR (created when missing): index.html
                     lists the files sorted by path with their figures and the total;
                     one page per source file shows its figures, its functions' figures
                     and its text with every line coloured by status (classes
                     line-run, line-notrun, line-nocode, line-excluded). The text is
                     read from the file's path (after --map-path; under --root when
                     relative), and for a path on drive Z: (recorded by a build under
                     Wine) also from the same path under /. When the source cannot be
                     read the page shows the figures and the line numbers.
  --cobertura FILE   write Cobertura XML (Jenkins, GitLab, Azure DevOps): a package per
                     source folder, a class per file, its functions as methods.
  --lcov FILE        write an lcov tracefile (genhtml, Codecov, Coveralls).
  --sonar FILE       write SonarQube generic coverage XML.

Source paths (a log names its sources as the machine that recorded it saw them):
  --map-path FROM=TO  read a recorded path that begins with the folder FROM as TO
                     followed by the rest of the path; may be given several times,
                     the longest matching FROM wins. FROM is compared as files are
                     merged (letter case ignored, '/' and '\' alike) and must end
                     where a folder name ends; the separators after it take the
                     style of TO ('/' when TO has none). Logs recorded under Wine
                     read on Linux: --map-path 'Z:\=/'. The mapped path is the one
                     every output writes and the HTML report reads the source from.
  --root DIR         write the paths of files under DIR relative to it: lcov's SF,
                     SonarQube's path and Cobertura's filename (with DIR as its
                     source); relative paths are looked up under DIR. A relative DIR
                     is taken from the current folder. Files outside DIR keep their
                     full paths.

Exclusions (as in lcov and gcovr): when a file's source can be read, a line that holds
LCOV_EXCL_LINE and the lines from one holding LCOV_EXCL_START to one holding
LCOV_EXCL_STOP are left out of every figure and output, and a function whose every line
is left out goes too. A START without STOP warns with the file and line and excludes to
the end of the file. The summary and the HTML report say how many lines were excluded.
  --no-exclusions    ignore the markers.

Coverage gate:
  --fail-under PERCENT  after writing the outputs, exit with code 3 and one line giving
                     the figure when the total line coverage is below PERCENT
                     (0 to 100, decimals allowed; no lines at all count as 0%).

  -h, --help         show this text and exit.
  --version          print the version and exit.
  --                 end of options: every later argument is a log.

Merging: source files whose paths are equal when letter case is ignored and '/' and
'\' are taken as one are one file. A line has code if any log records code for it and
is reached if any run reached it; a file's line count is the largest recorded.

Functions: logs written with zerkacmd -f name the function that owns each run of lines;
a function's figures are those of the lines in the runs opened under its name. Files
have no function figures when no log names their functions.

Paths are written as the logs record them unless --map-path or --root change them;
function names always are. Source files are read only when they are regular files of
at most 64 MiB; another file that a log names (a folder, device or FIFO) or a larger
one is not read, with a warning, and its HTML page shows no text. The summary table
shortens paths wider than 60 characters in the middle ("..."); the other outputs keep
them whole.

Output files are written under temporary names beside them and renamed into place only
when every output of the run has been written: when one cannot be written, the error
names it and no output of the run replaces an earlier one. A device or a pipe
(/dev/stdout) is written directly. --html DIR keeps the names of its pages in
DIR/.zerkareport-pages and removes the pages listed there by an earlier report that this
one does not write; nothing else in DIR is removed.

Incomplete and malformed logs: a log that ends inside a file block, or in a line without
its line feed (a run whose log could not be written completely), is read up to its last
complete block, with a warning naming the log. A log with an unknown record tag, a record
out of order, a bad number, a status string whose length differs from its line count or
a status character other than 0, 1 and 3, or a path or function name holding a NUL byte
is refused with an error naming the log and the line; then nothing is written. A file
that does not begin with H, or holds no line feed at all, is no log and is refused too.

Exit codes: 0 done (also after warnings); 1 a log was refused or could not be read, or an
output could not be written; 2 wrong command line; 3 the total line coverage is below
--fail-under (the outputs are written).
)";

struct Options {
    bool help = false;
    bool version = false;
    bool summary = false;
    bool functions = false;
    std::string html;
    std::string cobertura;
    std::string lcov;
    std::string sonar;
    std::vector<std::string> logs;

    // Source paths, exclusions and the coverage gate, checked by check_report_options.
    std::vector<std::string> map_path;
    std::string root;
    std::string fail_under;
    bool no_exclusions = false;
    std::vector<PathMapping> mappings;
    double threshold = -1; // no gate
};

struct ValueOption {
    const char* name;
    std::string Options::*field;
    std::vector<std::string> Options::*list = nullptr; // an option that may be repeated
};

const ValueOption kValueOptions[] = {{"--html", &Options::html},
                                     {"--cobertura", &Options::cobertura},
                                     {"--lcov", &Options::lcov},
                                     {"--sonar", &Options::sonar},
                                     {"--map-path", nullptr, &Options::map_path},
                                     {"--root", &Options::root},
                                     {"--fail-under", &Options::fail_under}};

bool usage_error(const std::string& what) {
    std::cerr << "zerkareport: " << what << "\nTry 'zerkareport --help'.\n";
    return false;
}

bool parse(int argc, char** argv, Options& options) {
    bool only_logs = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (only_logs || argument.empty() || argument[0] != '-' || argument == "-") {
            options.logs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            only_logs = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            continue;
        }
        if (argument == "--version") {
            options.version = true;
            continue;
        }
        if (argument == "--summary" || argument == "--functions") {
            (argument == "--summary" ? options.summary : options.functions) = true;
            continue;
        }
        if (argument == "--no-exclusions") {
            options.no_exclusions = true;
            continue;
        }
        std::string name = argument.substr(0, argument.find('='));
        const ValueOption* option = nullptr;
        for (const ValueOption& known : kValueOptions) {
            if (name == known.name)
                option = &known;
        }
        if (option == nullptr)
            return usage_error("unknown option '" + argument + "'");
        std::string value;
        if (name.size() < argument.size()) {
            value = argument.substr(name.size() + 1);
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            return usage_error("option '" + name + "' needs a value");
        }
        if (value.empty())
            return usage_error("option '" + name + "' needs a value");
        if (option->list != nullptr) {
            (options.*(option->list)).push_back(value);
            continue;
        }
        if (!(options.*(option->field)).empty())
            return usage_error("option '" + name + "' given twice");
        options.*(option->field) = value;
    }
    if (!options.help && !options.version && options.logs.empty())
        return usage_error("no log named");
    return true;
}

bool check_report_options(Options& options) {
    for (const std::string& text : options.map_path) {
        PathMapping mapping;
        if (!parse_path_mapping(text, mapping))
            return usage_error("option '--map-path' needs FROM=TO, not '" + text + "'");
        options.mappings.push_back(mapping);
    }
    if (!options.root.empty())
        options.root = root_folder(options.root);
    if (!options.fail_under.empty()) {
        const char* text = options.fail_under.c_str();
        char* end = nullptr;
        options.threshold = std::strtod(text, &end);
        if (end == text || *end != '\0' || !(options.threshold >= 0 && options.threshold <= 100))
            return usage_error("option '--fail-under' needs a percent from 0 to 100, not '" +
                               options.fail_under + "'");
    }
    return true;
}

// True when the gate passes; otherwise prints the figure and the threshold.
bool meets_threshold(const CoverageModel& model, const Options& options) {
    if (options.threshold < 0)
        return true;
    Figures total = total_figures(model);
    bool below = total.lines == 0 ? options.threshold > 0
                                  : 100.0 * static_cast<double>(total.reached) <
                                        options.threshold * static_cast<double>(total.lines);
    if (!below)
        return true;
    std::cerr << "zerkareport: total line coverage "
              << (total.lines ? percent_text(total) : std::string("0.0")) << "% (" << total.reached
              << " of " << total.lines << " lines) is below --fail-under " << options.fail_under
              << "%\n";
    return false;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options) || !check_report_options(options))
        return kExitUsage;
    if (options.help) {
        std::cout << kUsage;
        return kExitOk;
    }
    if (options.version) {
        std::cout << "zerkareport " << ZERKA_VERSION << '\n';
        return kExitOk;
    }

    // Every log is read before anything is written, so a refused log leaves no output.
    std::vector<CoverageModel> models;
    for (const std::string& log : options.logs) {
        LogReadResult read = read_log(log);
        if (!read.ok) {
            std::cerr << "zerkareport: error: " << read.error << '\n';
            return kExitFailed;
        }
        if (!read.warning.empty())
            std::cerr << "zerkareport: warning: " << read.warning << '\n';
        place_source_paths(read.model, options.mappings, options.root);
        models.push_back(std::move(read.model));
    }
    CoverageModel model = merge_models(std::move(models));
    model.root = options.root;
    if (!options.no_exclusions || !options.html.empty()) {
        std::vector<std::string> warnings;
        scan_sources(model, !options.no_exclusions, warnings);
        for (const std::string& warning : warnings)
            std::cerr << "zerkareport: warning: " << warning << '\n';
    }

    // Every output is written before any is put in place: a failure leaves the earlier ones.
    OutputSet outputs;
    std::string error;
    bool ok =
        (options.lcov.empty() || write_lcov(model, options.lcov, outputs, error)) &&
        (options.cobertura.empty() || write_cobertura(model, options.cobertura, outputs, error)) &&
        (options.sonar.empty() || write_sonar(model, options.sonar, outputs, error)) &&
        (options.html.empty() || write_html(model, options.html, outputs, error)) &&
        outputs.commit(error);
    if (!ok)
        std::cerr << "zerkareport: error: " << error << '\n';
    bool any_file = !options.lcov.empty() || !options.cobertura.empty() || !options.sonar.empty() ||
                    !options.html.empty();
    if (options.summary || options.functions || !any_file)
        write_summary(model, options.functions, std::cout);
    if (!ok)
        return kExitFailed;
    return meets_threshold(model, options) ? kExitOk : kExitBelowThreshold;
}
