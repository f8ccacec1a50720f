// The run's store: table keys and defaults, interned source names, and what destruction frees.
#include "coverage/coverage_database.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "app/heap_text.h"

// Every heap block that this test program takes through operator new, still unreleased.
static std::atomic<long> live_blocks{0};

void* operator new(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr)
        throw std::bad_alloc();
    ++live_blocks;
    return block;
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* block) noexcept {
    if (block == nullptr)
        return;
    --live_blocks;
    std::free(block);
}
void operator delete[](void* block) noexcept {
    operator delete(block);
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace {

struct DatabaseTest : ::testing::Test {
    volatile LONG cancel = 0;
    CoverageDatabase database{"app.exe -x", "", "", false, false, false, nullptr, &cancel};
};

TEST_F(DatabaseTest, StartsEmptyWithTheRunsParameters) {
    volatile LONG flag = 0;
    HWND window = reinterpret_cast<HWND>(0x1234);
    CoverageDatabase db("cmd", "w", "s", true, true, true, window, &flag);
    EXPECT_STREQ("cmd", db.command_text);
    EXPECT_STREQ("w", db.work_folder);
    EXPECT_STREQ("s", db.source_folder);
    EXPECT_TRUE(db.existing_files_only);
    EXPECT_TRUE(db.function_names);
    EXPECT_TRUE(db.show_debug_output);
    EXPECT_EQ(window, db.notify_window);
    EXPECT_EQ(&flag, db.cancel_flag);
    EXPECT_TRUE(db.breakpoints.empty());
    EXPECT_TRUE(db.source_files.empty());
    EXPECT_TRUE(db.functions.empty());
    EXPECT_TRUE(db.symbol_path.empty());
    EXPECT_EQ(32u, db.breakpoints.bucket_count());
    EXPECT_EQ(32u, db.source_files.bucket_count());
}

TEST_F(DatabaseTest, NewBreakpointEntryIsAllZeroAndAnAddressKeepsOneEntry) {
    BreakpointEntry& entry = database.breakpoints[0x401000];
    EXPECT_EQ(nullptr, entry.file);
    EXPECT_EQ(0u, entry.line);
    EXPECT_EQ(0u, entry.saved_byte);
    EXPECT_EQ(BreakpointState::unplanted, entry.state);

    const char* file = database.add_source_file(copy_text("C:\\src\\a.c"), true);
    database.breakpoints[0x401000] = BreakpointEntry{file, 3, 0xCC, BreakpointState::unplanted};
    database.breakpoints[0x401000] = BreakpointEntry{file, 4, 0xCC, BreakpointState::unplanted};
    EXPECT_EQ(1u, database.breakpoints.size());
    EXPECT_EQ(4u, database.breakpoints.find(0x401000)->second.line);
    EXPECT_TRUE(database.breakpoints.find(0x401001) == database.breakpoints.end());
}

TEST_F(DatabaseTest, EqualNamesShareOneStoredKey) {
    const char* stored = database.add_source_file(copy_text("C:\\src\\a.c"), false);
    bool accepted = true;
    // A different copy of the same text finds the stored key, not itself.
    const std::string probe = "C:\\src\\a.c";
    EXPECT_EQ(stored, database.find_source_file(probe.c_str(), &accepted));
    EXPECT_FALSE(accepted);
    // Entering it again keeps the first key and flag.
    EXPECT_EQ(stored, database.add_source_file(copy_text("C:\\src\\a.c"), true));
    EXPECT_EQ(1u, database.source_files.size());
    EXPECT_EQ(stored, database.find_source_file(probe.c_str(), &accepted));
    EXPECT_FALSE(accepted);
    EXPECT_EQ(nullptr, database.find_source_file("C:\\src\\b.c", &accepted));
}

TEST_F(DatabaseTest, TwoSpellingsOfOneFileAreTwoEntries) {
    const char* upper = database.add_source_file(copy_text("C:\\SRC\\a.c"), true);
    const char* slashed = database.add_source_file(copy_text("C:/SRC/a.c"), false);
    const char* lower = database.add_source_file(copy_text("c:\\src\\a.c"), true);
    EXPECT_NE(upper, slashed);
    EXPECT_NE(upper, lower);
    EXPECT_NE(slashed, lower);
    EXPECT_EQ(3u, database.source_files.size());
    bool accepted = true;
    EXPECT_EQ(slashed, database.find_source_file("C:/SRC/a.c", &accepted));
    EXPECT_FALSE(accepted);
}

TEST(SourceNameHash, FiveTimesPlusSignedByteModulo2To32) {
    const SourceNameHash hash;
    EXPECT_EQ(0u, hash(""));
    EXPECT_EQ(97u, hash("a"));
    EXPECT_EQ(5u * 97u + 98u, hash("ab"));
    // 0xE9 counts as -23, and the sum wraps at 32 bits on both builds.
    EXPECT_EQ(0xFFFFFFE9u, hash("\xE9"));
    const std::string wrapped = std::string("\xE9") + "a";
    EXPECT_EQ(static_cast<std::uint32_t>(5u * 0xFFFFFFE9u + 'a'), hash(wrapped.c_str()));
    std::uint32_t expected = 0;
    const std::string long_name = "C:\\some\\rather\\long\\folder\\name\\file.cpp";
    for (char c : long_name)
        expected = 5 * expected + static_cast<std::uint32_t>(static_cast<signed char>(c));
    EXPECT_EQ(expected, hash(long_name.c_str()));
}

TEST(SourceNameEqual, ByteWiseAndNullsEqualOnlyToEachOther) {
    const SourceNameEqual equal;
    const std::string a = "C:\\a.c";
    EXPECT_TRUE(equal(a.c_str(), "C:\\a.c"));
    EXPECT_FALSE(equal("C:\\a.c", "c:\\a.c"));
    EXPECT_FALSE(equal("C:\\a.c", "C:/a.c"));
    EXPECT_TRUE(equal(nullptr, nullptr));
    EXPECT_FALSE(equal(nullptr, ""));
    EXPECT_FALSE(equal("", nullptr));
}

TEST(DatabaseDestruction, FreesEveryNameItOwns) {
    const long before = live_blocks;
    long filled = 0;
    {
        volatile LONG cancel = 0;
        CoverageDatabase db("cmd", "", "", false, true, false, nullptr, &cancel);
        for (int i = 0; i < 100; ++i) {
            const std::string name = "C:\\src\\file" + std::to_string(i) + ".cpp";
            const char* file = db.add_source_file(copy_text(name.c_str()), i % 2 == 0);
            db.breakpoints[0x1000 + i] =
                BreakpointEntry{file, 1u + i, 0xCC, BreakpointState::unplanted};
        }
        for (int i = 0; i < 50; ++i)
            db.functions.push_back(
                FunctionEntry{static_cast<CodeAddress>(0x2000 + i), copy_text("function_name")});
        db.symbol_path = std::string(300, 'p');
        filled = live_blocks;
    }
    // The count can only come back if the 150 names and the lists were released.
    EXPECT_GE(filled - before, 150);
    EXPECT_EQ(before, live_blocks.load());
}

} // namespace
