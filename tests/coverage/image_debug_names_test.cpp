// The pre-check on real images: Wine's own ntdll (DWARF, relative names), the DWARF and PDB
// test targets (Z:\ names), and cut copies of a real image.
#include "coverage/image_debug_names.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "generated/target_sources.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace {

// An image opened the way the loader hands it to the debugger: read access, shared.
class OpenImage {
  public:
    explicit OpenImage(const std::string& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~OpenImage() {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    OpenImage(const OpenImage&) = delete;
    OpenImage& operator=(const OpenImage&) = delete;
    HANDLE handle() const { return handle_; }

  private:
    HANDLE handle_;
};

// The pre-check's answer, or a test failure when the file cannot be opened.
bool misses(const std::string& image, const std::string& folder,
            std::uint32_t* image_size = nullptr) {
    OpenImage file(image);
    EXPECT_NE(file.handle(), INVALID_HANDLE_VALUE) << image;
    std::uint32_t size = 0;
    bool result = image_lines_miss_folder(file.handle(), folder.c_str(), &size);
    if (image_size != nullptr)
        *image_size = size;
    return result;
}

const std::string kSources = kTargetSources;

TEST(ImageDebugNames, WineNtdllIsPassedByOnlyForFoldersItsNamesCannotBegin) {
    if (!wine_dlls_carry_dwarf())
        GTEST_SKIP() << "this Wine's ntdll.dll is stripped: it has no DWARF names to pass by";
    const std::string ntdll = ntdll_path();
    std::uint32_t size = 0;
    EXPECT_TRUE(misses(ntdll, "Z:\\work\\src", &size));
    // The extent is the image's own, as the loader mapped it.
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA("ntdll.dll"));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(reinterpret_cast<const char*>(dos) +
                                                               dos->e_lfanew);
    EXPECT_EQ(size, nt->OptionalHeader.SizeOfImage);
    EXPECT_TRUE(misses(ntdll, kSources));

    // Its names are "./dlls/ntdll/actctx.c", "./include/wine/debug.h", ...
    for (const char* folder : {".", ".\\dlls", "./dlls/ntdll", "dlls", "DLLS\\NTDLL", "include\\wi",
                               "dlls\\ntdll\\actctx", "include\\winnt", "\\dlls"})
        EXPECT_FALSE(misses(ntdll, folder)) << folder;
}

TEST(ImageDebugNames, DwarfTargetIsReadForItsOwnFolderAndAcrossAJoin) {
    const std::string calc = bin_dir() + "targets\\dwarf\\calc.exe";
    EXPECT_FALSE(misses(calc, kSources));
    EXPECT_FALSE(misses(calc, kSources.substr(0, kSources.size() - 3)));
    // Longer than the compile folder: its rest comes from the joined "calc/main.c".
    EXPECT_FALSE(misses(calc, kSources + "\\ca"));
    EXPECT_FALSE(misses(calc, kSources + "/calc/util"));
    EXPECT_TRUE(misses(calc, "Z:\\nowhere\\src"));
    // A sibling of the compile folder: no part can follow "targets" without a separator.
    EXPECT_TRUE(misses(calc, kSources + "2"));
}

TEST(ImageDebugNames, ImagesWithOtherDebugInformationAreAlwaysRead) {
    // A CodeView entry names a PDB; an image without DWARF lines is left to the handler too.
    for (const char* image : {"targets\\pdb\\calc.exe", "targets\\dwarf\\nolines.dll"})
        EXPECT_FALSE(misses(bin_dir() + image, "Z:\\nowhere\\src")) << image;
    EXPECT_FALSE(misses(ntdll_path(), ""));
}

TEST(ImageDebugNames, CutCopiesAreRead) {
    const std::string whole = read_file(bin_dir() + "targets\\dwarf\\calc.exe");
    ASSERT_GT(whole.size(), 4096u);
    ScratchDir scratch;
    const std::string copy = scratch.path() + "cut.exe";
    for (std::size_t length : {std::size_t{2}, std::size_t{0x40}, std::size_t{0x100},
                               std::size_t{0x400}, whole.size() / 2, whole.size() - 1}) {
        {
            HANDLE file =
                CreateFileA(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            DWORD written = 0;
            ASSERT_TRUE(
                WriteFile(file, whole.data(), static_cast<DWORD>(length), &written, nullptr));
            CloseHandle(file);
        }
        EXPECT_FALSE(misses(copy, "Z:\\nowhere\\src")) << length;
    }
}

TEST(ImageDebugNames, TheHandleKeepsItsPositionAndStaysOpen) {
    OpenImage file(bin_dir() + "targets\\dwarf\\calc.exe");
    ASSERT_NE(file.handle(), INVALID_HANDLE_VALUE);
    ASSERT_NE(SetFilePointer(file.handle(), 3, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    std::uint32_t size = 0;
    EXPECT_TRUE(image_lines_miss_folder(file.handle(), "Z:\\nowhere\\src", &size));
    char bytes[2] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file.handle(), bytes, sizeof(bytes), &read, nullptr));
    ASSERT_EQ(read, 2u);
    // "MZ\x90\0...": the two bytes after the first three.
    EXPECT_EQ(bytes[0], '\0');
    EXPECT_EQ(SetFilePointer(file.handle(), 0, nullptr, FILE_CURRENT), 5u);
}

} // namespace
