#include "report/writers.h"

#include "log/log_format.h"

#include <string>

bool write_lcov(const CoverageModel& model, const std::string& path, OutputSet& outputs,
                std::string& error) {
    OutputFile* out = outputs.open(path, error);
    if (out == nullptr)
        return false;
    for (const FileCoverage& file : model.files) {
        *out << "TN:\nSF:" << file.path() << '\n';
        std::uint64_t functions_reached = 0;
        for (const FunctionCoverage& function : file.functions) {
            *out << "FN:" << std::uint64_t{first_function_line(file, function)} << ','
                 << function.name << '\n';
        }
        for (const FunctionCoverage& function : file.functions) {
            bool reached = function_figures(file, function).reached > 0;
            functions_reached += reached ? 1 : 0;
            *out << "FNDA:" << (reached ? "1" : "0") << ',' << function.name << '\n';
        }
        *out << "FNF:" << std::uint64_t{file.functions.size()} << '\n';
        *out << "FNH:" << functions_reached << '\n';
        for (std::size_t i = 0; i < file.status.size(); ++i) {
            if (file.status[i] == kLineNoCode)
                continue;
            *out << "DA:" << std::uint64_t{i + 1} << (file.status[i] == kLineRun ? ",1\n" : ",0\n");
        }
        Figures figures = file_figures(file);
        *out << "LF:" << figures.lines << '\n';
        *out << "LH:" << figures.reached << '\n';
        *out << "end_of_record\n";
    }
    return out->finish(error);
}
