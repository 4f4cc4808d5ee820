// The program runner: exit status and messages, arguments reaching the
// program unchanged, the child's start (signals, group, input), the
// deadline and the interrupt ending the whole process group, the capture's
// cap, and the choice of the message in a program's output.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "program_runner.h"
#include "test_env.h"

namespace {

using namespace std::chrono_literals;

Program_Result run(std::initializer_list<const char*> args, std::chrono::milliseconds deadline = 10s,
                   std::chrono::milliseconds grace = program_term_grace)
{
    std::vector<const char*> argv(args);
    argv.push_back(nullptr);
    return run_program(nullptr, Program_Call{"test", argv.data(), deadline, grace});
}

// The fields of a /proc/<pid>/status text.
std::map<std::string, std::string> status_fields(const std::string& text)
{
    std::map<std::string, std::string> fields;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(':');
        const auto value = line.find_first_not_of(" \t", colon + 1);
        if (colon != std::string::npos && value != std::string::npos) {
            fields[line.substr(0, colon)] = line.substr(value);
        }
    }
    return fields;
}

// True once the process is gone or a zombie, within a second.
bool process_ended(pid_t pid)
{
    for (int i = 0; i < 100; ++i) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string pid_text, name, state;
        if (!(stat >> pid_text >> name >> state) || state == "Z") {
            return true;
        }
        usleep(10000);
    }
    return false;
}

TEST(ProgramRunner, ExitStatusOutputAndTheFailureLine)
{
    const char* const argv[] = {"sh", "-c", "echo out; echo oops >&2; exit 3", nullptr};
    const Program_Call call{"sh -c", argv, 10s};
    testing::internal::CaptureStdout();
    const Program_Result r = run_program("caller", call);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[ERROR] caller: sh -c failed (exit 3): oops\n");
    EXPECT_EQ(r.outcome, Program_Outcome::EXITED);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.output, "out\n");
    EXPECT_EQ(r.errors, "oops\n");
    EXPECT_TRUE(run({"true"}).succeeded());

    const Program_Result missing = run({"nk-no-such-program"});
    EXPECT_EQ(missing.outcome, Program_Outcome::NOT_STARTED);
    EXPECT_EQ(missing.status, ENOENT);
}

TEST(ProgramRunner, ArgumentsReachTheProgramUnchanged)
{
    nk_test::TempDir dir;
    nk_test::ScopedCwd cwd(dir.path());
    const Program_Result r =
        run({"printf", "%s|\n", "a b", "x;touch y;", "$(touch z)", "`touch w`", "'q'\"", "", "/ x"});
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.output, "a b|\nx;touch y;|\n$(touch z)|\n`touch w`|\n'q'\"|\n|\n/ x|\n");
    for (const char* name : {"y", "z", "w"}) {
        EXPECT_FALSE(nk_test::file_exists(dir.file(name))) << name;
    }
}

TEST(ProgramRunner, TheChildStartsCleanInAGroupOfItsOwnWithNoInput)
{
    // What the daemon's thread may carry: SIGPIPE ignored, a signal blocked.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    sigset_t old_mask;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &old_mask), 0);
    const auto old_pipe = signal(SIGPIPE, SIG_IGN);
    const Program_Result r = run({"cat", "/proc/self/status"});
    const Program_Result input = run({"cat"}, 5s);
    signal(SIGPIPE, old_pipe);
    pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);

    ASSERT_TRUE(r.succeeded()) << r.errors;
    auto fields = status_fields(r.output);
    EXPECT_EQ(fields["SigBlk"], "0000000000000000");
    // The standard signals (1 to 31): glibc keeps two realtime signals for
    // itself, and its posix_spawn leaves them ignored in every child.
    EXPECT_EQ(std::stoull(fields["SigIgn"], nullptr, 16) & 0x7FFFFFFFu, 0u) << fields["SigIgn"];
    EXPECT_EQ(fields["NSpgid"], fields["Pid"]);
    EXPECT_TRUE(input.succeeded());  // standard input at its end at once
    EXPECT_EQ(input.output, "");
}

TEST(ProgramRunner, TheDeadlineEndsTheWholeGroupTermThenKill)
{
    struct Case {
        const char* script;
        bool ignores_term;
    };
    for (const Case& c :
         {Case{"sleep 30 & echo $!; wait", false}, Case{"trap '' TERM; sleep 30 & echo $!; wait", true}}) {
        SCOPED_TRACE(c.script);
        const auto start = std::chrono::steady_clock::now();
        const char* const argv[] = {"sh", "-c", c.script, nullptr};
        const Program_Call call{"sleeper", argv, 300ms, 400ms};
        testing::internal::CaptureStdout();
        const Program_Result r = run_program("caller", call);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "[ERROR] caller: sleeper did not finish within 300 ms; its process group was ended\n");
        EXPECT_EQ(r.outcome, Program_Outcome::TIMED_OUT);
        EXPECT_GE(took, c.ignores_term ? 700ms : 300ms);
        EXPECT_LT(took, 5s);
        // The grandchild went with the group.
        ASSERT_FALSE(r.output.empty());
        EXPECT_TRUE(process_ended(std::stoi(r.output)));
    }
}

TEST(ProgramRunner, OutputIsCappedToItsLastBytes)
{
    const Program_Result r = run({"sh", "-c", "head -c 100000 /dev/zero | tr '\\0' a; echo; echo last"});
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(r.output.size(), program_output_cap);
    EXPECT_EQ(r.output.substr(r.output.size() - 7), "a\nlast\n");
}

TEST(ProgramMessage, TheLineThatSaysWhatWentWrong)
{
    // netplan generate 0.106 rejecting a file, after its gateway4 warning.
    const std::string netplan =
        "\n** (generate:1): WARNING **: 15:34:14.672: `gateway4` has been deprecated, use default routes instead.\n"
        "See the 'Default routes' section of the documentation for more details.\n"
        "/r/etc/netplan/99-netcfg.yaml:8:20: Error in network definition: malformed address 'x.x.x.x', must be "
        "X.X.X.X or X:X:X:X:X:X:X:X\n        addresses: [x.x.x.x]\n                   ^\n";
    EXPECT_EQ(choose_program_message(netplan, ""),
              "/r/etc/netplan/99-netcfg.yaml:8:20: Error in network definition: malformed address 'x.x.x.x', must "
              "be X.X.X.X or X:X:X:X:X:X:X:X");
    const std::string traceback = "Traceback (most recent call last):\n  File \"/usr/sbin/netplan\", line 23, in "
                                  "<module>\n    netplan.main()\nPermissionError: [Errno 13] Permission denied\n";
    EXPECT_EQ(choose_program_message(traceback, ""), "PermissionError: [Errno 13] Permission denied");
    EXPECT_EQ(choose_program_message("\n** (generate:2): WARNING **: a\ncontinued\nError: Conflicting routes\n", ""),
              "Error: Conflicting routes");
    EXPECT_EQ(choose_program_message("", "Could not set hostname: Access denied\n"),
              "Could not set hostname: Access denied");
    EXPECT_EQ(choose_program_message("Warning: only a warning\n", ""), "");
    EXPECT_EQ(choose_program_message(std::string(1000, 'e'), "").size(), program_message_max);
}

}  // namespace
