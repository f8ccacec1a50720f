#include "report/writers.h"

#include "log/log_format.h"
#include "report/markup_text.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <vector>

namespace {

std::string rate(const Figures& figures) {
    if (figures.lines == 0)
        return "0";
    char text[32];
    std::snprintf(text, sizeof(text), "%.4f",
                  static_cast<double>(figures.reached) / static_cast<double>(figures.lines));
    return text;
}

// The line rate and the fixed branch and complexity figures (the log knows no branches).
std::string rates(const Figures& figures) {
    return "line-rate=\"" + rate(figures) + "\" branch-rate=\"0\" complexity=\"0\"";
}

void write_line(OutputFile& out, const char* indent, const FileCoverage& file, std::size_t i) {
    out << indent << "<line number=\"" << std::uint64_t{i + 1} << "\" hits=\""
        << (file.status[i] == kLineRun ? "1" : "0") << "\" branch=\"false\"/>\n";
}

void write_class(OutputFile& out, const FileCoverage& file) {
    out << "        <class name=\"" << markup_escape(file.name) << "\" filename=\""
        << markup_escape(file.path()) << "\" " << rates(file_figures(file)) << ">\n";
    out << "          <methods>\n";
    for (const FunctionCoverage& function : file.functions) {
        out << "            <method name=\"" << markup_escape(function.name) << "\" signature=\"\" "
            << rates(function_figures(file, function)) << ">\n";
        out << "              <lines>\n";
        for (const LineRun& run : function.runs) {
            for (std::size_t i = run.begin; i < run.end && i < file.status.size(); ++i) {
                if (file.status[i] != kLineNoCode)
                    write_line(out, "                ", file, i);
            }
        }
        out << "              </lines>\n            </method>\n";
    }
    out << "          </methods>\n          <lines>\n";
    for (std::size_t i = 0; i < file.status.size(); ++i) {
        if (file.status[i] != kLineNoCode)
            write_line(out, "            ", file, i);
    }
    out << "          </lines>\n        </class>\n";
}

} // namespace

bool write_cobertura(const CoverageModel& model, const std::string& path, OutputSet& outputs,
                     std::string& error) {
    OutputFile* file = outputs.open(path, error);
    if (file == nullptr)
        return false;
    // Written as it is made: the document is many times the size of the model.
    OutputFile& out = *file;
    Figures total = total_figures(model);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<coverage line-rate=\"" << rate(total) << "\" branch-rate=\"0\" lines-covered=\""
        << total.reached << "\" lines-valid=\"" << total.lines
        << "\" branches-covered=\"0\" branches-valid=\"0\" complexity=\"0\" version=\"1\""
        << " timestamp=\"" << std::to_string(static_cast<long long>(std::time(nullptr)) * 1000)
        << "\">\n";
    // Consumers resolve relative file names against the sources.
    if (!model.root.empty())
        out << "  <sources>\n    <source>" << markup_escape(model.root)
            << "</source>\n  </sources>\n";
    out << "  <packages>\n";
    // One package per folder, in the order of the folders' first files.
    std::vector<std::string> folders;
    std::map<std::string, std::vector<const FileCoverage*>> packages;
    for (const FileCoverage& coverage : model.files) {
        auto& files = packages[coverage.folder];
        if (files.empty())
            folders.push_back(coverage.folder);
        files.push_back(&coverage);
    }
    for (const std::string& folder : folders) {
        Figures package;
        for (const FileCoverage* coverage : packages[folder])
            package.add(file_figures(*coverage));
        // Files directly under the root have no folder: their package is ".".
        out << "    <package name=\"" << markup_escape(folder.empty() ? "." : folder) << "\" "
            << rates(package) << ">\n      <classes>\n";
        for (const FileCoverage* coverage : packages[folder])
            write_class(out, *coverage);
        out << "      </classes>\n    </package>\n";
    }
    out << "  </packages>\n</coverage>\n";
    return out.finish(error);
}
