// The run's store: table keys and defaults, interned source names, and what destruction frees.
#include "coverage/coverage_database.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
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
    EXPECT_EQ(32u, db.source_files.bucket_count());
    EXPECT_EQ(1u, db.file_count());
    EXPECT_EQ(nullptr, db.file_name(kNoSourceFile));
}

TEST_F(DatabaseTest, NewBreakpointEntryIsAllZeroAndAnAddressKeepsOneEntry) {
    BreakpointEntry& entry = database.breakpoints[0x401000];
    EXPECT_EQ(kNoSourceFile, entry.file());
    EXPECT_EQ(0u, entry.line);
    EXPECT_EQ(0u, entry.saved_byte());
    EXPECT_EQ(BreakpointState::unplanted, entry.state());

    const std::uint32_t file = database.add_source_file(copy_text("C:\\src\\a.c"), true);
    database.breakpoints[0x401000] = BreakpointEntry{file, 3, 0xCC, BreakpointState::unplanted};
    database.breakpoints[0x401000] = BreakpointEntry{file, 4, 0xCC, BreakpointState::unplanted};
    // insert keeps the entry of an address met before.
    const auto again = database.breakpoints.insert(
        0x401000, BreakpointEntry{file, 5, 0x90, BreakpointState::planted});
    EXPECT_FALSE(again.second);
    EXPECT_EQ(4u, again.first->line);
    EXPECT_EQ(1u, database.breakpoints.size());
    EXPECT_EQ(4u, database.breakpoints.find(0x401000)->line);
    EXPECT_EQ(nullptr, database.breakpoints.find(0x401001));
}

TEST_F(DatabaseTest, EqualNamesShareOneIndex) {
    const std::uint32_t stored = database.add_source_file(copy_text("C:\\src\\a.c"), true);
    EXPECT_NE(kNoSourceFile, stored);
    EXPECT_STREQ("C:\\src\\a.c", database.file_name(stored));
    // A different copy of the same text finds the stored index.
    const std::string probe = "C:\\src\\a.c";
    std::uint32_t file = kNoSourceFile;
    EXPECT_TRUE(database.find_source_file(probe.c_str(), &file));
    EXPECT_EQ(stored, file);
    // Entering it again keeps the first index, and its flag: not accepted stays so.
    EXPECT_EQ(stored, database.add_source_file(copy_text("C:\\src\\a.c"), false));
    const std::uint32_t rejected = database.add_source_file(copy_text("C:\\src\\r.c"), false);
    EXPECT_EQ(kNoSourceFile, rejected);
    EXPECT_EQ(kNoSourceFile, database.add_source_file(copy_text("C:\\src\\r.c"), true));
    EXPECT_TRUE(database.find_source_file("C:\\src\\r.c", &file));
    EXPECT_EQ(kNoSourceFile, file);
    EXPECT_EQ(2u, database.source_files.size());
    EXPECT_EQ(2u, database.file_count()); // the rejected name takes no index
    EXPECT_FALSE(database.find_source_file("C:\\src\\b.c", &file));
}

TEST_F(DatabaseTest, TwoSpellingsOfOneFileAreTwoEntries) {
    const std::uint32_t upper = database.add_source_file(copy_text("C:\\SRC\\a.c"), true);
    const std::uint32_t slashed = database.add_source_file(copy_text("C:/SRC/a.c"), true);
    const std::uint32_t lower = database.add_source_file(copy_text("c:\\src\\a.c"), true);
    EXPECT_NE(upper, slashed);
    EXPECT_NE(upper, lower);
    EXPECT_NE(slashed, lower);
    EXPECT_EQ(3u, database.source_files.size());
    std::uint32_t file = kNoSourceFile;
    EXPECT_TRUE(database.find_source_file("C:/SRC/a.c", &file));
    EXPECT_EQ(slashed, file);
    EXPECT_STREQ("C:/SRC/a.c", database.file_name(slashed));
    EXPECT_STREQ("c:\\src\\a.c", database.file_name(lower));
}

// The entry keeps the file index in 21 bits. Every index below the limit is given and names its
// own file; a name after the last one is kept as not accepted (its lines are not entered)
// rather than wrap onto index 0 or another file's index. The real limit, 2^21 - 1 names, takes
// about eight minutes under Wine's heap, so the database here stops at 8 names; the packing of
// the highest real index is checked on the entry itself.
struct SmallLimitDatabase : CoverageDatabase {
    explicit SmallLimitDatabase(volatile LONG* cancel)
        : CoverageDatabase("x", "", "", false, false, false, nullptr, cancel) {
        file_limit_ = 8;
    }
};

TEST(FileIndexLimit, NamesBeyondTheLastIndexAreNotAccepted) {
    volatile LONG cancel = 0;
    SmallLimitDatabase database(&cancel);
    char name[32];
    for (std::uint32_t i = 1; i < 8; ++i) {
        std::snprintf(name, sizeof(name), "C:\\s\\%u.c", i);
        ASSERT_EQ(i, database.add_source_file(copy_text(name), true));
        // A rejected name in between takes no index.
        std::snprintf(name, sizeof(name), "C:\\r\\%u.c", i);
        ASSERT_EQ(kNoSourceFile, database.add_source_file(copy_text(name), false));
    }
    EXPECT_EQ(8u, database.file_count());
    EXPECT_EQ(kNoSourceFile, database.add_source_file(copy_text("C:\\s\\over.c"), true));
    std::uint32_t file = 1;
    EXPECT_TRUE(database.find_source_file("C:\\s\\over.c", &file));
    EXPECT_EQ(kNoSourceFile, file);
    EXPECT_EQ(8u, database.file_count());
    // Names entered before the limit keep their index and name.
    EXPECT_EQ(7u, database.add_source_file(copy_text("C:\\s\\7.c"), true));
    EXPECT_STREQ("C:\\s\\7.c", database.file_name(7));
}

TEST(FileIndexLimit, TheHighestIndexPacksBesideTheStateAndSavedByte) {
    BreakpointEntry entry{kSourceFileLimit - 1, 0xFFFFFFFFu, 0xAB, BreakpointState::native_break};
    EXPECT_EQ(kSourceFileLimit - 1, entry.file());
    EXPECT_EQ(0xABu, entry.saved_byte());
    EXPECT_EQ(BreakpointState::native_break, entry.state());
    entry.set_state(BreakpointState::retired);
    entry.set_saved_byte(0xFF);
    EXPECT_EQ(kSourceFileLimit - 1, entry.file());
    EXPECT_EQ(0xFFFFFFFFu, entry.line);
    entry.set_file(1);
    EXPECT_EQ(BreakpointState::retired, entry.state());
    EXPECT_EQ(0xFFu, entry.saved_byte());
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
            const std::uint32_t file = db.add_source_file(copy_text(name.c_str()), i % 2 == 0);
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
