#include "report/writers.h"

#include "log/log_format.h"
#include "report/markup_text.h"

bool write_sonar(const CoverageModel& model, const std::string& path, OutputSet& outputs,
                 std::string& error) {
    OutputFile* out = outputs.open(path, error);
    if (out == nullptr)
        return false;
    *out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<coverage version=\"1\">\n";
    for (const FileCoverage& file : model.files) {
        *out << "  <file path=\"" << markup_escape(file.path()) << "\">\n";
        for (std::size_t i = 0; i < file.status.size(); ++i) {
            if (file.status[i] == kLineNoCode)
                continue;
            *out << "    <lineToCover lineNumber=\"" << std::uint64_t{i + 1} << "\" covered=\""
                 << (file.status[i] == kLineRun ? "true" : "false") << "\"/>\n";
        }
        *out << "  </file>\n";
    }
    *out << "</coverage>\n";
    return out->finish(error);
}
