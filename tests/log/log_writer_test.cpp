// The log writer against databases filled by hand: whole log files compared byte for byte,
// written through a real FILE* into a scratch folder, messages observed through a notify window.
#include "log/log_writer.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/heap_text.h"
#include "app/messages.h"
#include "log/log_format.h"
#include "tests/support/catalogue.h"
#include "tests/support/notify_window.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

namespace {

constexpr char kHeader[] = "Happ.exe -x\nH2026/03/14 09:26:53\n";

constexpr BreakpointState kHit = BreakpointState::hit;
constexpr BreakpointState kPlanted = BreakpointState::planted;

struct LogWriterTest : ::testing::Test {
    LogWriterTest() { set_message_module(catalogue_module()); }

    std::uint32_t file(const char* name) {
        std::uint32_t stored = kNoSourceFile;
        if (database.find_source_file(name, &stored))
            return stored;
        return database.add_source_file(copy_text(name), true);
    }
    void line(CodeAddress address, const char* name, std::uint32_t number, BreakpointState state) {
        // The saved byte of a hit entry is 0xCC again; a planted one holds some code byte.
        const std::uint8_t saved = state == kPlanted ? 0x55 : 0xCC;
        database.breakpoints[address] = BreakpointEntry{file(name), number, saved, state};
    }
    void function(CodeAddress address, const char* name, std::uint32_t load = kNoLoad) {
        database.functions.push_back(FunctionEntry{address, copy_text(name), load});
    }
    std::vector<CodeAddress> walk_order() const {
        std::vector<CodeAddress> order;
        database.breakpoints.for_each(
            [&order](CodeAddress address, const BreakpointEntry&) { order.push_back(address); });
        return order;
    }

    // Writes the header as the coverage run does, then the body; returns the whole file.
    std::string write_log() {
        const std::string path = scratch.path() + "coverage_260314_001.log";
        LogFile log;
        log.path = path;
        log.stream = std::fopen(path.c_str(), "wb");
        log.notify_window = window.handle();
        EXPECT_NE(nullptr, log.stream);
        EXPECT_LT(0,
                  std::fprintf(log.stream, kLogHeaderFormat, "app.exe -x", 2026, 3, 14, 9, 26, 53));
        result = write_coverage_log(database, log);
        std::fclose(log.stream);
        const std::string content = read_file(path);
        EXPECT_EQ(std::string::npos, content.find('\r'));
        return content;
    }

    std::vector<std::string> expected_notices(std::vector<unsigned> ids) {
        std::vector<std::string> texts;
        for (unsigned id : ids) {
            texts.push_back(catalogue_text(id));
            EXPECT_FALSE(texts.back().empty()) << id;
        }
        return texts;
    }

    ScratchDir scratch;
    NotifyWindow window;
    volatile LONG cancel = 0;
    CoverageDatabase database{"app.exe -x", "", "", false, false, false, window.handle(), &cancel};
    bool result = false;
};

TEST_F(LogWriterTest, NoEntriesWriteNothingAfterTheHeader) {
    EXPECT_EQ(kHeader, write_log());
    EXPECT_TRUE(result);
    EXPECT_EQ(expected_notices({MSG_LOG_BODY_BEGINS}), window.texts());
}

TEST_F(LogWriterTest, LineCountIsTheHighestLineAndEachLineHasItsMark) {
    line(0x1003, "C:\\src\\main.cpp", 3, kPlanted);
    line(0x1007, "C:\\src\\main.cpp", 7, kHit);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN7,main.cpp\nS0010003\n", write_log());
    EXPECT_TRUE(result);
}

TEST_F(LogWriterTest, OnlyAnObservedHitCountsAsReached) {
    // Every state but hit holds 0xCC or a code byte without having been seen to run.
    line(0x1001, "C:\\src\\s.cpp", 1, BreakpointState::unplanted);
    line(0x1002, "C:\\src\\s.cpp", 2, BreakpointState::planted);
    line(0x1003, "C:\\src\\s.cpp", 3, BreakpointState::unplantable);
    line(0x1004, "C:\\src\\s.cpp", 4, BreakpointState::native_break);
    line(0x1005, "C:\\src\\s.cpp", 5, BreakpointState::retired);
    line(0x1006, "C:\\src\\s.cpp", 6, BreakpointState::hit);
    database.breakpoints.for_each([](CodeAddress, const BreakpointEntry& entry) {
        if (entry.state() != kPlanted) {
            EXPECT_EQ(0xCC, entry.saved_byte());
        }
    });
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN6,s.cpp\nS111113\n", write_log());
}

// Two addresses of line 4, one hit: the line is reached whichever the walk meets first. The
// hit goes to the address that the table's walk meets first, or last, whatever the hash.
void check_line_with_two_addresses(LogWriterTest& test, bool hit_met_first) {
    test.line(0x1001, "C:\\src\\loop.cpp", 4, kPlanted);
    test.line(0x1002, "C:\\src\\loop.cpp", 4, kPlanted);
    test.line(0x1010, "C:\\src\\loop.cpp", 2, kPlanted);
    std::vector<CodeAddress> order = test.walk_order();
    order.erase(std::remove(order.begin(), order.end(), CodeAddress{0x1010}), order.end());
    ASSERT_EQ(2u, order.size());
    test.database.breakpoints[hit_met_first ? order.front() : order.back()].set_state(kHit);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN4,loop.cpp\nS0103\n", test.write_log());
    EXPECT_TRUE(test.result);
}

TEST_F(LogWriterTest, LineWithSeveralAddressesIsReachedWhenTheWalkMeetsTheHitFirst) {
    check_line_with_two_addresses(*this, true);
}

TEST_F(LogWriterTest, LineWithSeveralAddressesIsReachedWhenTheWalkMeetsTheHitLast) {
    check_line_with_two_addresses(*this, false);
}

TEST_F(LogWriterTest, LineWithSeveralAddressesTakesItsFunctionFromTheLowest) {
    database.function_names = true;
    function(0x1000, "low");
    function(0x1020, "high");
    // A pair of addresses of line 5, one in each function, that the walk meets higher first.
    bool higher_first = false;
    for (CodeAddress low = 0x1008; low < 0x1020 && !higher_first; ++low) {
        database.breakpoints.clear();
        line(0x1024, "C:\\src\\loop.cpp", 5, kHit);
        line(low, "C:\\src\\loop.cpp", 5, kPlanted);
        higher_first = walk_order().front() == 0x1024;
    }
    ASSERT_TRUE(higher_first);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN5,loop.cpp\nF4,low\nS00003\n", write_log());
}

// Image loads 1 and 2 at one base, 1 freed; 3 and 4 loaded beside them, 4 without functions.
// Each line is named by a function of the load that reported it: where the two functions at
// 0x1000 belong to different loads, below a load's first function (its first, not one of a
// lower image), and never by another image's for a load that listed none (the current
// function stays; a block of such lines alone has no F record).
TEST_F(LogWriterTest, EachLineTakesAFunctionOfTheImageLoadThatReportedIt) {
    database.function_names = true;
    function(0x1000, "first_work", 1);
    line(0x1000, "C:\\src\\first.c", 2, kHit);
    line(0x1010, "C:\\src\\first.c", 3, kPlanted);
    database.breakpoints.settle(0x1000, {0x0, 0x10}, 1);
    database.images[0x1000] = ModuleRecord{0x1000, 0x2000, 2, {}};
    function(0x1020, "second_used", 2);
    function(0x1000, "second_unused", 2);
    line(0x1000, "C:\\src\\second.c", 3, kPlanted);
    line(0x1020, "C:\\src\\second.c", 8, kHit);
    database.images[0x3000] = ModuleRecord{0x3000, 0x4000, 3, {}};
    function(0x3100, "late", 3);
    line(0x3050, "C:\\src\\third.c", 1, kPlanted);
    database.images[0x5000] = ModuleRecord{0x5000, 0x6000, 4, {}};
    line(0x5000, "C:\\src\\third.c", 5, kHit);
    line(0x5010, "C:\\src\\fourth.c", 2, kPlanted);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN3,first.c\nF1,first_work\nS031\n"
                                     "DC:\\src\\\nN2,fourth.c\nS01\n"
                                     "DC:\\src\\\nN8,second.c\nF2,second_unused\nF7,second_used\n"
                                     "S00100003\n"
                                     "DC:\\src\\\nN5,third.c\nF0,late\nS10003\n",
              write_log());
    EXPECT_TRUE(result);
}

TEST_F(LogWriterTest, FilesFollowTheFoldedPathOrderAndKeepTheirSpelling) {
    // Entered so that the walk order is not the log order.
    line(0x1001, "c:\\src\\x_y.cpp", 1, kHit);
    line(0x1002, "C:\\src\\D.cpp", 1, kHit);
    line(0x1003, "c:\\src\\xz.cpp", 1, kHit);
    line(0x1004, "c:/src/e.cpp", 1, kPlanted);
    line(0x1005, "c:\\src\\b.cpp", 1, kHit);
    line(0x1006, "C:\\SRC\\a.cpp", 1, kHit);
    line(0x1007, "c:\\src\\a\\z.cpp", 2, kPlanted);
    EXPECT_EQ(std::string(kHeader) + "Dc:\\src\\a\\\nN2,z.cpp\nS01\n"
                                     "DC:\\SRC\\\nN1,a.cpp\nS3\n"
                                     "Dc:\\src\\\nN1,b.cpp\nS3\n"
                                     "DC:\\src\\\nN1,D.cpp\nS3\n"
                                     "Dc:/src/\nN1,e.cpp\nS1\n"
                                     "Dc:\\src\\\nN1,xz.cpp\nS3\n"
                                     "Dc:\\src\\\nN1,x_y.cpp\nS3\n",
              write_log());
    EXPECT_TRUE(result);
}

TEST_F(LogWriterTest, NamesWithCommasAreWrittenWhole) {
    database.function_names = true;
    function(0x1000, "operator,(A, B)");
    line(0x1000, "C:\\x,y\\a,b.cpp", 1, kHit);
    EXPECT_EQ(std::string(kHeader) + "DC:\\x,y\\\nN1,a,b.cpp\nF0,operator,(A, B)\nS3\n",
              write_log());
}

TEST_F(LogWriterTest, EntriesWithoutALineNumberAreLeftOut) {
    line(0x1001, "C:\\src\\a.cpp", 0, kHit);
    line(0x1002, "C:\\src\\a.cpp", 2, kPlanted);
    line(0x1003, "C:\\src\\only_zero.cpp", 0, kHit);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN2,a.cpp\nS01\n", write_log());
}

TEST_F(LogWriterTest, StatusStringHasNoUpperBound) {
    line(0x1001, "C:\\src\\big.cpp", 100000, kHit);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN100000,big.cpp\nS" + std::string(99999, '0') +
                  "3\n",
              write_log());
}

// Functions entered out of order, as several modules report them.
void add_function_example(LogWriterTest& test) {
    test.function(0x1600, "dup");
    test.function(0x1400, "second");
    test.function(0x1700, "dup");
    test.function(0x1200, "first");
    test.line(0x1100, "C:\\src\\f.cpp", 1, kHit);     // below every function: the lowest
    test.line(0x1200, "C:\\src\\f.cpp", 2, kHit);     // at exactly its address
    test.line(0x13FF, "C:\\src\\f.cpp", 3, kPlanted); // one byte before the next
    test.line(0x1400, "C:\\src\\f.cpp", 4, kHit);
    test.line(0x1600, "C:\\src\\f.cpp", 6, kHit);
    test.line(0x1700, "C:\\src\\f.cpp", 7, kHit); // same name, another function
    test.line(0x1710, "C:\\src\\f.cpp", 8, kPlanted);
    test.line(0x1720, "C:\\src\\g.cpp", 2, kHit); // the function that ended the last block
}

std::vector<CodeAddress> function_addresses(const FunctionList& functions) {
    std::vector<CodeAddress> addresses;
    for (const FunctionEntry& entry : functions)
        addresses.push_back(entry.address);
    return addresses;
}

TEST_F(LogWriterTest, FunctionRecordsNameTheOwnerOfEachRunOfLines) {
    database.function_names = true;
    add_function_example(*this);
    EXPECT_EQ(std::string(kHeader) +
                  "DC:\\src\\\nN8,f.cpp\nF0,first\nF3,second\nF5,dup\nF6,dup\nS33130331\n"
                  "DC:\\src\\\nN2,g.cpp\nF1,dup\nS03\n",
              write_log());
    EXPECT_TRUE(result);
    EXPECT_EQ((std::vector<CodeAddress>{0x1200, 0x1400, 0x1600, 0x1700}),
              function_addresses(database.functions));
}

TEST_F(LogWriterTest, NoFunctionRecordsWithoutTheOptionButTheListIsSorted) {
    add_function_example(*this);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN8,f.cpp\nS33130331\n" +
                  "DC:\\src\\\nN2,g.cpp\nS03\n",
              write_log());
    EXPECT_EQ((std::vector<CodeAddress>{0x1200, 0x1400, 0x1600, 0x1700}),
              function_addresses(database.functions));
}

TEST_F(LogWriterTest, NoFunctionRecordsWhenNoFunctionIsKnown) {
    database.function_names = true;
    line(0x1001, "C:\\src\\a.cpp", 1, kHit);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN1,a.cpp\nS3\n", write_log());
    EXPECT_TRUE(result);
}

// One file named in two spellings by two modules: one block under the spelling that sorts
// first byte-wise, each line once, reached if either spelling's entry was hit.
void check_two_spellings(LogWriterTest& test, const char* a, const char* b) {
    test.database.function_names = true;
    test.function(0x1000, "merged");
    test.line(0x1001, "C:\\src\\l.cpp", 1, kHit);
    test.line(0x1002, a, 2, kPlanted);
    test.line(0x1003, b, 2, kHit); // the same line from the other spelling, hit
    test.line(0x1004, b, 3, kPlanted);
    test.line(0x1005, a, 5, kHit);
    test.line(0x1006, b, 5, kPlanted);
    test.line(0x1007, "c:\\src\\n.cpp", 1, kPlanted);
    // The two tests swap the spellings at the same addresses, so the walk meets each spelling
    // first in one of them.
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN1,l.cpp\nF0,merged\nS3\n" +
                  "DC:\\src\\\nN5,m.cpp\nF1,merged\nS03103\n" +
                  "Dc:\\src\\\nN1,n.cpp\nF0,merged\nS1\n",
              test.write_log());
    EXPECT_TRUE(test.result);
}

TEST_F(LogWriterTest, TwoSpellingsMergeWhenTheWalkMeetsTheOtherSpellingFirst) {
    check_two_spellings(*this, "c:/SRC/M.cpp", "C:\\src\\m.cpp");
}

TEST_F(LogWriterTest, TwoSpellingsMergeWhenTheWalkMeetsTheWrittenSpellingFirst) {
    check_two_spellings(*this, "C:\\src\\m.cpp", "c:/SRC/M.cpp");
}

TEST_F(LogWriterTest, WriteFailureReportsOnceAndLeavesWhatWasWritten) {
    // A stream opened for reading only: every write to it fails, as on a broken medium.
    const std::string path = scratch.path() + "coverage_260314_001.log";
    FILE* header = std::fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, header);
    std::fprintf(header, kLogHeaderFormat, "app.exe -x", 2026, 3, 14, 9, 26, 53);
    std::fclose(header);
    line(0x1001, "C:\\src\\a.cpp", 1, kHit);
    line(0x1002, "C:\\src\\b.cpp", 1, kHit);
    LogFile log;
    log.path = path;
    log.stream = std::fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, log.stream);
    EXPECT_FALSE(write_coverage_log(database, log));
    std::fclose(log.stream);
    EXPECT_EQ(expected_notices({MSG_LOG_BODY_BEGINS, MSG_LOG_WRITE_FAILED}), window.texts());
    EXPECT_EQ(kHeader, read_file(path));
}

TEST_F(LogWriterTest, FullDeviceFailsTheWrite) {
    // Under Wine, Z: is the Unix root, and /dev/full refuses every byte with "no space left".
    // The formatted write still counts its characters: only the stream's error shows the loss.
    LogFile log;
    log.path = "Z:\\dev\\full";
    log.stream = std::fopen(log.path.c_str(), "wb");
    ASSERT_NE(nullptr, log.stream) << "no full device here";
    line(0x1001, "C:\\src\\a.cpp", 1, kHit);
    line(0x1002, "C:\\src\\b.cpp", 1, kHit);
    EXPECT_FALSE(write_coverage_log(database, log));
    std::fclose(log.stream);
    EXPECT_EQ(expected_notices({MSG_LOG_BODY_BEGINS, MSG_LOG_WRITE_FAILED}), window.texts());
}

// A cancel flag that counts its reads and turns to 1 at a chosen one. The flag's page is kept
// inaccessible: each read faults, the handler opens the page with the flag's value for that read
// and single-steps the reading instruction, then closes the page again. So the test sees the
// writer's own reads of the flag, in order, without any change to the writer.
class CountedCancelFlag {
  public:
    explicit CountedCancelFlag(unsigned cancel_at) : cancel_at_(cancel_at) {
        page_ = static_cast<char*>(
            VirtualAlloc(nullptr, kPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        instance_ = this;
        handler_ = AddVectoredExceptionHandler(1, on_exception);
        protect(PAGE_NOACCESS);
    }
    ~CountedCancelFlag() {
        protect(PAGE_READWRITE);
        RemoveVectoredExceptionHandler(handler_);
        instance_ = nullptr;
        VirtualFree(page_, 0, MEM_RELEASE);
    }
    volatile LONG* flag() const { return reinterpret_cast<volatile LONG*>(page_); }
    unsigned reads() const { return reads_; }

  private:
    static constexpr SIZE_T kPageSize = 4096;
    static constexpr DWORD kTrapFlag = 0x100;

    void protect(DWORD protection) {
        DWORD old = 0;
        VirtualProtect(page_, kPageSize, protection, &old);
    }

    static LONG CALLBACK on_exception(EXCEPTION_POINTERS* pointers) {
        CountedCancelFlag* self = instance_;
        const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
        if (self == nullptr)
            return EXCEPTION_CONTINUE_SEARCH;
        if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2 &&
            record->ExceptionInformation[1] >= reinterpret_cast<ULONG_PTR>(self->page_) &&
            record->ExceptionInformation[1] <
                reinterpret_cast<ULONG_PTR>(self->page_) + kPageSize) {
            ++self->reads_;
            self->protect(PAGE_READWRITE);
            *self->flag() = self->reads_ >= self->cancel_at_ ? 1 : 0;
            self->stepping_ = true;
            pointers->ContextRecord->EFlags |= kTrapFlag;
            return EXCEPTION_CONTINUE_EXECUTION;
        }
        if (record->ExceptionCode == EXCEPTION_SINGLE_STEP && self->stepping_) {
            self->stepping_ = false;
            self->protect(PAGE_NOACCESS);
            pointers->ContextRecord->EFlags &= ~kTrapFlag;
            return EXCEPTION_CONTINUE_EXECUTION;
        }
        return EXCEPTION_CONTINUE_SEARCH;
    }

    static CountedCancelFlag* instance_;
    unsigned cancel_at_;
    unsigned reads_ = 0;
    bool stepping_ = false;
    char* page_;
    PVOID handler_;
};
CountedCancelFlag* CountedCancelFlag::instance_ = nullptr;

// Three entries and three functions out of order: the writer reads the flag once before it
// starts, once before each entry and once after sorting the functions, five reads in all.
struct CancelTest : LogWriterTest {
    void fill() {
        database.function_names = true;
        function(0x1300, "c");
        function(0x1100, "a");
        function(0x1200, "b");
        line(0x1101, "C:\\src\\a.cpp", 1, kHit);
        line(0x1201, "C:\\src\\a.cpp", 2, kPlanted);
        line(0x1301, "C:\\src\\a.cpp", 3, kHit);
    }
    // Writes the log with the flag turning to 1 at the given read; returns the reads made.
    unsigned write_cancelled_at(unsigned read) {
        fill();
        CountedCancelFlag counted(read);
        database.cancel_flag = counted.flag();
        log_text = write_log();
        return counted.reads();
    }
    std::string log_text;
};

// A cancel seen at the given read: false, no record after the header, no further read; the
// start message only once the writer began, the functions sorted only once it sorted them.
void expect_cancelled_at(CancelTest& test, unsigned read, bool begun, bool sorted) {
    SCOPED_TRACE(read);
    test.database.functions.clear();
    EXPECT_EQ(read, test.write_cancelled_at(read));
    EXPECT_FALSE(test.result);
    EXPECT_EQ(kHeader, test.log_text);
    EXPECT_EQ(test.expected_notices(begun ? std::vector<unsigned>{MSG_LOG_BODY_BEGINS}
                                          : std::vector<unsigned>{}),
              test.window.texts());
    const std::vector<CodeAddress> order = sorted
                                               ? std::vector<CodeAddress>{0x1100, 0x1200, 0x1300}
                                               : std::vector<CodeAddress>{0x1300, 0x1100, 0x1200};
    EXPECT_EQ(order, function_addresses(test.database.functions));
}

TEST_F(CancelTest, BeforeTheStartNothingIsReportedOrWritten) {
    expect_cancelled_at(*this, 1, false, false);
}

TEST_F(CancelTest, DuringTheWalkAtItsFirstAndLastEntry) {
    expect_cancelled_at(*this, 2, true, false);
    expect_cancelled_at(*this, 4, true, false);
}

TEST_F(CancelTest, AfterTheSortTheFunctionsAreSortedButNothingIsWritten) {
    expect_cancelled_at(*this, 5, true, true);
}

TEST_F(CancelTest, OnceWritingBeganTheFlagIsNoLongerRead) {
    EXPECT_EQ(5u, write_cancelled_at(6));
    EXPECT_TRUE(result);
    EXPECT_EQ(std::string(kHeader) + "DC:\\src\\\nN3,a.cpp\nF0,a\nF1,b\nF2,c\nS313\n", log_text);
}

} // namespace
