#include "report/writers.h"

#include "report/exclusions.h"

#include <algorithm>
#include <iomanip>

namespace {

constexpr char kFileHeading[] = "File";
constexpr char kTotalLabel[] = "Total";
constexpr char kFunctionIndent[] = "  ";
// Wider labels are shortened in the middle, so a deep path keeps its head and its file name.
constexpr std::size_t kMaxLabelWidth = 60;
constexpr char kEllipsis[] = "...";

bool utf8_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

std::string shortened(const std::string& label) {
    if (label.size() <= kMaxLabelWidth)
        return label;
    std::size_t keep = kMaxLabelWidth - (sizeof(kEllipsis) - 1);
    std::size_t head = keep / 2;
    std::size_t tail = label.size() - (keep - head);
    // Never cut inside a UTF-8 sequence.
    while (head > 0 && utf8_continuation(label[head]))
        --head;
    while (tail < label.size() && utf8_continuation(label[tail]))
        ++tail;
    return label.substr(0, head) + kEllipsis + label.substr(tail);
}

void write_row(std::ostream& out, const std::string& label, std::size_t width,
               const Figures& figures) {
    out << std::left << std::setw(static_cast<int>(width)) << shortened(label) << std::right << "  "
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
    width = std::min(width, kMaxLabelWidth);
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
    if (std::uint64_t excluded = total_excluded(model))
        out << excluded_text(excluded) << " (--no-exclusions counts them)\n";
}
