// The parser that main uses: which options reach the run settings, and the joined command.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/command_line.h"

namespace {

struct Parsed {
    bool accepted = false;
    CommandLine line;
};

// The arguments after the program name; they stay alive in the list the caller passes.
Parsed parse(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{"zerkacmd"};
    for (const std::string& argument : arguments)
        argv.push_back(argument.c_str());
    Parsed parsed;
    parsed.accepted = parse_command_line(static_cast<int>(argv.size()), argv.data(), parsed.line);
    return parsed;
}

std::string text_or_none(const char* text) {
    return text ? text : "<none>";
}

TEST(CommandLine, WorkFolderSpellings) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"-w", "dir", "cmd"},
                                                      {"-W", "dir", "cmd"},
                                                      {"/w", "dir", "cmd"},
                                                      {"-wdir", "cmd"},
                                                      {"/Wdir", "cmd"}}) {
        std::vector<std::string> copy = arguments;
        Parsed parsed = parse(copy);
        SCOPED_TRACE(copy[0]);
        ASSERT_TRUE(parsed.accepted);
        EXPECT_EQ(text_or_none(parsed.line.work_folder), "dir");
        EXPECT_EQ(text_or_none(parsed.line.source_folder), "<none>");
        EXPECT_STREQ(parsed.line.command_text, "cmd");
        EXPECT_FALSE(parsed.line.existing_files_only);
        EXPECT_FALSE(parsed.line.function_names);
    }
}

TEST(CommandLine, OptionAfterBareFolderOptionLeavesFolderUnset) {
    std::vector<std::string> arguments{"-w", "-e", "cmd"};
    Parsed parsed = parse(arguments);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(parsed.line.work_folder, nullptr);
    EXPECT_TRUE(parsed.line.existing_files_only);
    EXPECT_STREQ(parsed.line.command_text, "cmd");
}

TEST(CommandLine, ValueStartingWithSlashIsAnOptionOfItsOwn) {
    std::vector<std::string> separate{"-s", "/src", "cmd"};
    Parsed parsed = parse(separate);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(text_or_none(parsed.line.source_folder), "rc");
    EXPECT_STREQ(parsed.line.command_text, "cmd");

    std::vector<std::string> attached{"-s/src", "cmd"};
    parsed = parse(attached);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(text_or_none(parsed.line.source_folder), "/src");
}

TEST(CommandLine, FlagsAndRepeatedOptions) {
    std::vector<std::string> arguments{"-w", "a",  "-f", "-S", "x",  "-w",
                                       "b",  "-e", "-s", "y",  "-e", "cmd"};
    Parsed parsed = parse(arguments);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(text_or_none(parsed.line.work_folder), "b");
    EXPECT_EQ(text_or_none(parsed.line.source_folder), "y");
    EXPECT_TRUE(parsed.line.existing_files_only);
    EXPECT_TRUE(parsed.line.function_names);
}

TEST(CommandLine, JoiningKeepsEverythingAfterTheFirstCommandWord) {
    std::vector<std::string> arguments{"cmd", "-e", "x"};
    Parsed parsed = parse(arguments);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_STREQ(parsed.line.command_text, "cmd -e x");
    EXPECT_FALSE(parsed.line.existing_files_only);

    // Quotes are not put back; line breaks stay for run control to split at.
    std::vector<std::string> spaced{"-e", "my app.exe", "a\r\nb", ""};
    parsed = parse(spaced);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_STREQ(parsed.line.command_text, "my app.exe a\r\nb ");

    std::vector<std::string> two_empty{"", ""};
    parsed = parse(two_empty);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_STREQ(parsed.line.command_text, " ");

    // An empty folder value is a value: the next word is the command.
    std::vector<std::string> empty_folder{"-w", "", "cmd"};
    parsed = parse(empty_folder);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(text_or_none(parsed.line.work_folder), "");
    EXPECT_STREQ(parsed.line.command_text, "cmd");
}

TEST(CommandLine, UsageErrors) {
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{},
                                                      {"-x", "cmd"},
                                                      {"-ex", "cmd"},
                                                      {"-fe", "cmd"},
                                                      {"-"},
                                                      {"-", "cmd"},
                                                      {"/"},
                                                      {"--"},
                                                      {"--", "cmd"},
                                                      {"-e"},
                                                      {"-w", "dir"},
                                                      {"-s"},
                                                      {""},
                                                      {"-9", "cmd"}}) {
        std::vector<std::string> copy = arguments;
        std::string shown;
        for (const std::string& argument : copy)
            shown += "[" + argument + "]";
        SCOPED_TRACE(shown);
        EXPECT_FALSE(parse(copy).accepted);
    }
}

TEST(CommandLine, CommandTextIsRefusedRatherThanCut) {
    std::vector<std::string> longest{std::string(2047, 'a')};
    Parsed parsed = parse(longest);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(std::string(parsed.line.command_text), longest[0]);

    std::vector<std::string> too_long{std::string(2048, 'a')};
    EXPECT_FALSE(parse(too_long).accepted);

    // Joined exactly to the limit, and one past it through the blank alone.
    std::vector<std::string> joined{std::string(1023, 'b'), std::string(1023, 'c')};
    parsed = parse(joined);
    ASSERT_TRUE(parsed.accepted);
    EXPECT_EQ(std::string(parsed.line.command_text).size(), 2047u);
    std::vector<std::string> over{std::string(1023, 'b'), std::string(1023, 'c'), ""};
    EXPECT_FALSE(parse(over).accepted);
}

} // namespace
