#include "report/writers.h"

#include <algorithm>
#include <iomanip>

namespace {

constexpr char kFileHeading[] = "File";
constexpr char kTotalLabel[] = "Total";
constexpr char kFunctionIndent[] = "  ";

void write_row(std::ostream& out, const std::string& label, std::size_t width,
               const Figures& figures) {
    out << std::left << std::setw(static_cast<int>(width)) << label << std::right << "  "
        << std::setw(9) << figures.lines << "  " << std::setw(9) << figures.reached << "  "
        << std::setw(7) << percent_text(figures) + (figures.lines ? "%" : "") << '\n';
}

} // namespace

void write_summary(const CoverageModel& model, bool functions, std::ostream& out) {
    std::size_t width = sizeof(kTotalLabel) - 1;
    for (const FileCoverage& file : model.files) {
        width = std::max(width, file.path().size());
        if (functions) {
            for (const FunctionCoverage& function : file.functions)
                width = std::max(width, sizeof(kFunctionIndent) - 1 + function.name.size());
        }
    }
    out << std::left << std::setw(static_cast<int>(width)) << kFileHeading << std::right << "  "
        << std::setw(9) << "Lines"
        << "  " << std::setw(9) << "Reached"
        << "  " << std::setw(7) << "Percent" << '\n';
    for (const FileCoverage& file : model.files) {
        write_row(out, file.path(), width, file_figures(file));
        if (!functions)
            continue;
        for (const FunctionCoverage& function : file.functions)
            write_row(out, kFunctionIndent + function.name, width,
                      function_figures(file, function));
    }
    write_row(out, kTotalLabel, width, total_figures(model));
}
