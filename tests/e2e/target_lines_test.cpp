// The targets themselves, read with dbghelp in this process without running them: every marked
// line has a line record under the source name a Windows build records (Z:\...), in both forms.
// A broken target build shows here, apart from anything the tool does.
#include "tests/e2e/e2e_support.h"

#include <dbghelp.h>
#include <gtest/gtest.h>

#include <set>

#include "coverage/path_fold.h"

namespace {

struct ImageLines {
    DWORD sym_type = SymNone;
    std::set<std::pair<std::string, int>> lines; // folded file name, line
};

std::string folded(const std::string& path) {
    std::string result;
    for (char c : path)
        result += static_cast<char>(fold_path_char(static_cast<unsigned char>(c)));
    return result;
}

BOOL CALLBACK collect_line(PSRCCODEINFO line, PVOID context) {
    static_cast<ImageLines*>(context)->lines.insert({folded(line->FileName), line->LineNumber});
    return TRUE;
}

ImageLines read_image_lines(const std::string& image) {
    ImageLines result;
    HANDLE process = GetCurrentProcess();
    SymSetOptions(SYMOPT_UNDNAME | SYMOPT_LOAD_LINES);
    if (!SymInitialize(process, nullptr, FALSE))
        return result;
    const DWORD64 base = 0x10000000;
    if (SymLoadModuleEx(process, nullptr, image.c_str(), nullptr, base, 0, nullptr, 0) != 0) {
        IMAGEHLP_MODULE64 info{};
        info.SizeOfStruct = sizeof(info);
        if (SymGetModuleInfo64(process, base, &info))
            result.sym_type = info.SymType;
        SymEnumLines(process, base, nullptr, nullptr, collect_line, &result);
        SymUnloadModule64(process, base);
    }
    SymCleanup(process);
    return result;
}

void expect_marked_lines(const std::string& image, const std::vector<std::string>& sources,
                         bool pdb) {
    SCOPED_TRACE(image);
    ImageLines found = read_image_lines(image);
    ASSERT_FALSE(found.lines.empty()) << "no line records";
    if (pdb)
        EXPECT_EQ(found.sym_type, static_cast<DWORD>(SymPdb));
    else
        EXPECT_NE(found.sym_type, static_cast<DWORD>(SymPdb));
    for (const std::string& relative : sources) {
        std::map<int, char> markers = read_markers(target_source(relative));
        ASSERT_FALSE(markers.empty()) << relative;
        std::string file = folded(target_source(relative));
        for (const auto& marker : markers)
            EXPECT_EQ(found.lines.count({file, marker.first}), 1u)
                << relative << ":" << marker.first << " has no line record";
    }
}

} // namespace

TEST(TargetLines, EveryMarkedLineHasALineRecord) {
    for (const std::string form : {"pdb", "dwarf"}) {
        std::string dir = target_dir(form);
        bool pdb = form == "pdb";
        expect_marked_lines(dir + "calc.exe", {"calc/main.c", "calc/util/text.c"}, pdb);
        expect_marked_lines(dir + "linked.dll", {"dlls/linked.c"}, pdb);
        expect_marked_lines(dir + "plugin.dll", {"dlls/plugin.c"}, pdb);
        expect_marked_lines(dir + "shapes.exe", {"cpp/shapes.cpp"}, pdb);
        expect_marked_lines(dir + "events.exe", {"events/events.c"}, pdb);
    }
}
