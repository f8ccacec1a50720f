#include "report/writers.h"

#include "log/log_format.h"

#include <string>

bool write_lcov(const CoverageModel& model, const std::string& path, std::string& error) {
    std::string out;
    for (const FileCoverage& file : model.files) {
        out += "TN:\nSF:" + file.path() + "\n";
        std::size_t functions_reached = 0;
        for (const FunctionCoverage& function : file.functions) {
            out += "FN:" + std::to_string(first_function_line(file, function)) + "," +
                   function.name + "\n";
        }
        for (const FunctionCoverage& function : file.functions) {
            bool reached = function_figures(file, function).reached > 0;
            functions_reached += reached ? 1 : 0;
            out += "FNDA:" + std::string(reached ? "1" : "0") + "," + function.name + "\n";
        }
        out += "FNF:" + std::to_string(file.functions.size()) + "\n";
        out += "FNH:" + std::to_string(functions_reached) + "\n";
        for (std::size_t i = 0; i < file.status.size(); ++i) {
            if (file.status[i] == kLineNoCode)
                continue;
            out += "DA:" + std::to_string(i + 1) + (file.status[i] == kLineRun ? ",1\n" : ",0\n");
        }
        Figures figures = file_figures(file);
        out += "LF:" + std::to_string(figures.lines) + "\n";
        out += "LH:" + std::to_string(figures.reached) + "\n";
        out += "end_of_record\n";
    }
    return write_whole_file(path, out, error);
}
