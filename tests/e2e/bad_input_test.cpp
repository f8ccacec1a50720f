// Bad input on the command line: random argument lists against a small model of the option
// grammar, and awkward program paths and command lengths through the real zerkacmd.exe.
#include "app/command_line.h"
#include "resources/message_ids.h"
#include "tests/e2e/e2e_support.h"
#include "tests/support/catalogue.h"
#include "tests/support/process.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

// What the grammar says of an argument list, worked out here on its own terms: options until
// the first word that is neither an option nor a pending value, then the words joined by
// blanks; no command, an empty one or one over 2047 characters is a usage error.
struct Outcome {
    bool usage = false;
    std::string work = "<none>", source = "<none>", command;
    bool existing = false, functions = false;
};

Outcome expected_outcome(const std::vector<std::string>& args) {
    Outcome out;
    std::string* waiting = nullptr; // the folder a bare -s or -w still waits for
    size_t first = 0;
    for (; first < args.size(); ++first) {
        const std::string& arg = args[first];
        if (arg.empty() || (arg[0] != '-' && arg[0] != '/')) {
            if (waiting == nullptr)
                break;
            *waiting = arg;
            waiting = nullptr;
            continue;
        }
        waiting = nullptr;
        char letter = arg.size() > 1 ? arg[1] : '\0';
        if (letter >= 'A' && letter <= 'Z')
            letter = static_cast<char>(letter + ('a' - 'A'));
        std::string* folder = letter == 's' ? &out.source : letter == 'w' ? &out.work : nullptr;
        if (arg.size() > 2 && folder != nullptr)
            *folder = arg.substr(2);
        else if (arg.size() == 2 && folder != nullptr)
            waiting = folder;
        else if (arg.size() == 2 && (letter == 'e' || letter == 'f'))
            (letter == 'e' ? out.existing : out.functions) = true;
        else
            out.usage = true;
        if (out.usage)
            return out;
    }
    for (size_t i = first; i < args.size(); ++i)
        out.command += (i > first ? " " : "") + args[i];
    out.usage = first == args.size() || out.command.empty() || out.command.size() > 2047;
    return out;
}

// Random argument lists: option-like words, values, empty words, blanks, line breaks, quotes,
// bytes above 127, and now and then a list padded to within two characters of the limit.
class ArgumentMaker {
  public:
    explicit ArgumentMaker(bool console_safe) : console_safe_(console_safe) {}

    std::vector<std::string> make() {
        std::vector<std::string> args(pick(0, 7));
        for (std::string& arg : args)
            arg = word();
        Outcome outcome = expected_outcome(args);
        if (!args.empty() && !outcome.command.empty() && pick(0, 3) == 0) {
            long wanted = 2047 + pick(-2, 2) - static_cast<long>(outcome.command.size());
            if (wanted > 0)
                args.back() += std::string(wanted, 'q');
        }
        return args;
    }

  private:
    long pick(long low, long high) { return std::uniform_int_distribution<long>(low, high)(rng_); }

    // Plain words start with q or z, so that no command given to the real program names a
    // program that exists; only the in-process lists get quotes, line breaks and high bytes.
    std::string word() {
        static const char letters[] = "eEfFsSwWxX-/q1";
        const std::string chars = console_safe_ ? "qzeEwWsS -/" : "qzeEwWsS -/\"\\\n\t\xe9\xff";
        std::string text;
        switch (pick(0, 5)) {
        case 0: // an option, bare or with a value
        case 1:
            text = pick(0, 1) ? "-" : "/";
            if (pick(0, 9) > 0)
                text += letters[pick(0, sizeof(letters) - 2)];
            break;
        case 2:
            return pick(0, 2) ? "" : std::string(static_cast<size_t>(pick(900, 1100)), 'z');
        default:
            text = pick(0, 1) ? "q" : "z";
        }
        for (long n = pick(0, 4); n > 0; --n)
            text += chars[pick(0, static_cast<long>(chars.size()) - 1)];
        return text;
    }

    bool console_safe_;
    std::mt19937 rng_{20261209};
};

std::string show(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args)
        text += "[" +
                (arg.size() > 40 ? arg.substr(0, 20) + "...(" + std::to_string(arg.size()) + ")"
                                 : arg) +
                "] ";
    return text;
}

bool has(const std::string& output, const std::string& text) {
    return output.find(text) != std::string::npos;
}

const char kUsageLine[] = "usage: zerkacmd [option...] command [command option...]";

} // namespace

// 20,000 random argument lists through the parser that main uses: no write outside the record,
// the command text always terminated inside its buffer, and usage exactly where the model says,
// with the same folders, flags and command otherwise.
TEST(BadInput, RandomCommandLinesAgainstTheGrammar) {
    ArgumentMaker maker(false);
    int usage = 0, accepted = 0, at_limit = 0, over_limit = 0, failures = 0;
    for (int round = 0; round < 20000 && failures < 5; ++round) {
        std::vector<std::string> args = maker.make();
        std::vector<const char*> argv{"zerkacmd.exe"};
        for (const std::string& arg : args)
            argv.push_back(arg.c_str());
        struct {
            char before[64];
            CommandLine line;
            char after[64];
        } guarded;
        std::memset(guarded.before, 0xA5, sizeof(guarded.before));
        std::memset(guarded.after, 0xA5, sizeof(guarded.after));
        bool ok = parse_command_line(static_cast<int>(argv.size()), argv.data(), guarded.line);
        Outcome want = expected_outcome(args);

        bool sound = std::memchr(guarded.line.command_text, 0, 2048) != nullptr;
        for (unsigned char byte : guarded.before)
            sound = sound && byte == 0xA5;
        for (unsigned char byte : guarded.after)
            sound = sound && byte == 0xA5;
        const CommandLine& got = guarded.line;
        bool same =
            ok == !want.usage &&
            (want.usage ||
             (got.command_text == want.command &&
              std::string(got.work_folder ? got.work_folder : "<none>") == want.work &&
              std::string(got.source_folder ? got.source_folder : "<none>") == want.source &&
              got.existing_files_only == want.existing && got.function_names == want.functions));
        if (!sound || !same) {
            ++failures;
            ADD_FAILURE() << (sound ? "differs from the grammar: " : "wrote out of bounds: ")
                          << show(args) << " parsed " << ok << ", expected usage " << want.usage;
        }
        (ok ? accepted : usage)++;
        at_limit += ok && want.command.size() == 2047;
        over_limit += !want.command.empty() && want.command.size() > 2047 && !ok;
    }
    // Both outcomes and both sides of the limit were really exercised.
    EXPECT_GT(usage, 2000);
    EXPECT_GT(accepted, 2000);
    EXPECT_GT(at_limit, 100);
    EXPECT_GT(over_limit, 100);
}

// A sample of such lists through the real program: exit code 1 with the usage text exactly
// where the grammar says so, else exit code 0, no usage text, and the command it announces is
// the one the grammar joins.
TEST(BadInput, RandomCommandLinesThroughTheProgram) {
    ArgumentMaker maker(true);
    int usage = 0, runs = 0;
    while (usage < 10 || runs < 10) {
        std::vector<std::string> args = maker.make();
        Outcome want = expected_outcome(args);
        if ((want.usage && usage >= 10) || (!want.usage && runs >= 10))
            continue;
        (want.usage ? usage : runs)++;
        std::string line;
        for (const std::string& arg : args)
            line += "\"" + arg + "\" ";
        SCOPED_TRACE(show(args));
        ScratchDir scratch;
        ToolRun run = run_tool(line, scratch.path());
        ASSERT_TRUE(run.started) << "CreateProcessA error " << run.start_error;
        EXPECT_EQ(run.exit_code, want.usage ? 1u : 0u) << run.output;
        EXPECT_EQ(has(run.output, kUsageLine), want.usage) << run.output;
        if (!want.usage) { // announced as report_message cuts it
            EXPECT_TRUE(has(run.output,
                            formatted_message(MSG_TARGET_STARTING, want.command.c_str()) + "\r\n"))
                << run.output;
        }
        EXPECT_TRUE(log_files(scratch.path()).empty());
    }
}

// A real target in a folder with a blank, named quoted and unquoted; a folder named like the
// program beside it; commands of 2,047 and 2,048 characters that start it.
TEST(BadInput, ProgramPathsAndCommandLengths) {
    ScratchDir scratch;
    const std::string folder = scratch.path() + "my tools\\";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((folder + "my.tools").c_str(), nullptr));
    const std::string events = target_dir("dwarf") + "events.exe";
    for (const std::string& to : {folder + "events.exe", folder + "my.tools.exe"})
        ASSERT_TRUE(CopyFileA(events.c_str(), to.c_str(), FALSE)) << to;
    // What the system would start for "...\\my" if the quoted path reached it unquoted.
    const std::string decoy = scratch.path() + "my.exe";
    ASSERT_TRUE(CopyFileA((target_dir("dwarf") + "shapes.exe").c_str(), decoy.c_str(), FALSE));
    const std::string quoted = "\"" + folder + "events.exe\"";
    const std::string padded = quoted + " " + std::string(2046 - quoted.size(), 'x');
    ASSERT_EQ(padded.size(), 2047u);
    struct Case {
        std::string arguments, command;
    };
    // The quotes inside the command reach the tool escaped, past the runtime's own reading.
    auto escaped = [](std::string text) {
        for (size_t at = text.find('"'); at != std::string::npos; at = text.find('"', at + 2))
            text.insert(at, "\\");
        return text;
    };
    for (const Case& c :
         {Case{escaped(quoted) + " never", quoted + " never"},
          Case{"-w \"" + folder + "\\\" my.tools", "my.tools"}, Case{escaped(padded), padded}}) {
        SCOPED_TRACE(c.command.substr(0, 80));
        ScratchDir logs;
        ToolRun run = run_tool("-s " + target_sources() + " " + c.arguments, logs.path());
        CoverageLog log;
        expect_sound_log(run, logs.path(), c.command, log);
        if (HasFatalFailure())
            return;
        EXPECT_FALSE(has(run.output, "largest")) << run.output;
        EXPECT_NE(find_block(log, "events/events.c"), nullptr);
    }

    // Unquoted, the name ends at the blank and names nothing now: the launch fails, no log. One
    // character more than 2,047 is refused outright, with nothing started.
    ASSERT_TRUE(DeleteFileA(decoy.c_str()));
    Catalogue catalogue;
    ASSERT_TRUE(catalogue.loaded()); // else no message could be recognised below
    for (const std::string& arguments : {folder + "events.exe never", escaped(padded) + "x"}) {
        SCOPED_TRACE(arguments.substr(0, 80));
        ScratchDir logs;
        ToolRun run = run_tool(arguments, logs.path());
        // A run that did not start or was cut off says so, rather than as a silent output.
        ASSERT_TRUE(run.started) << "CreateProcessA error " << run.start_error;
        ASSERT_FALSE(run.timed_out) << run.output;
        bool too_long = arguments.size() > 2047;
        EXPECT_EQ(run.exit_code, too_long ? 1u : 0u);
        EXPECT_EQ(has(run.output, kUsageLine), too_long) << run.output;
        const std::vector<unsigned> launch_failed{MSG_TARGET_STARTING, MSG_LAUNCH_FAILED};
        EXPECT_EQ(message_ids(catalogue.classify_output(run.output)),
                  too_long ? std::vector<unsigned>{} : launch_failed)
            << "exit code " << run.exit_code << ", output: " << run.output;
        EXPECT_TRUE(log_files(logs.path()).empty());
    }
}
