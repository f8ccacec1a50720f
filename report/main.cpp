// zerkareport: reads coverage logs, merges them into one coverage and writes it as a console
// table, an HTML report, Cobertura XML, an lcov tracefile and SonarQube generic coverage.
#include "report/coverage_model.h"
#include "report/log_reader.h"
#include "report/writers.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1; // a log refused or unreadable, or an output not written
constexpr int kExitUsage = 2;

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
                     line-run, line-notrun, line-nocode). The text is read from the
                     path the log records, and for a path on drive Z: (recorded by a
                     build under Wine) also from the same path under /. When the source
                     cannot be read the page shows the figures and the line numbers.
  --cobertura FILE   write Cobertura XML (Jenkins, GitLab, Azure DevOps): a package per
                     source folder, a class per file, its functions as methods.
  --lcov FILE        write an lcov tracefile (genhtml, Codecov, Coveralls).
  --sonar FILE       write SonarQube generic coverage XML.
  -h, --help         show this text and exit.
  --version          print the version and exit.
  --                 end of options: every later argument is a log.

Merging: source files whose paths are equal when letter case is ignored and '/' and
'\' are taken as one are one file. A line has code if any log records code for it and
is reached if any run reached it; a file's line count is the largest recorded.

Functions: logs written with zerkacmd -f name the function that owns each run of lines;
a function's figures are those of the lines in the runs opened under its name. Files
have no function figures when no log names their functions.

Paths and function names are written as the logs record them.

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
output could not be written; 2 wrong command line.
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
};

struct ValueOption {
    const char* name;
    std::string Options::*field;
};

const ValueOption kValueOptions[] = {{"--html", &Options::html},
                                     {"--cobertura", &Options::cobertura},
                                     {"--lcov", &Options::lcov},
                                     {"--sonar", &Options::sonar}};

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
        if (!(options.*(option->field)).empty())
            return usage_error("option '" + name + "' given twice");
        options.*(option->field) = value;
    }
    if (!options.help && !options.version && options.logs.empty())
        return usage_error("no log named");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options))
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
        models.push_back(std::move(read.model));
    }
    CoverageModel model = merge_models(std::move(models));

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
    return ok ? kExitOk : kExitFailed;
}
