// Module program_runner: the one way the daemon starts a program.
//
// A program starts with posix_spawnp (found through PATH) from an argument
// vector, so no text from the BMC, the environment or a path is ever parsed
// by a shell. In the child: standard input is /dev/null; standard output and
// standard error each go to a pipe of their own and are captured (the last
// program_output_cap bytes of each, the rest is read and dropped); every
// signal has its default disposition and none is blocked (the daemon ignores
// SIGPIPE, which a child would otherwise inherit); the child leads a process
// group of its own. Past its deadline (or when the caller's interrupt flag
// is raised) the whole group gets SIGTERM and, term_grace later, SIGKILL.
//
// Threads: any thread may run a program; the call blocks until the program
// has ended or been ended. Calls share nothing.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes kept of each of the program's two output streams.
constexpr std::size_t program_output_cap = 16 * 1024;
// Time a program gets between SIGTERM and SIGKILL.
constexpr std::chrono::milliseconds program_term_grace{2000};
// Longest message quoted from a program's output in a log line.
constexpr std::size_t program_message_max = 300;

enum class Program_Outcome : uint8_t {
    EXITED,       // status: its exit status
    SIGNALLED,    // status: the signal that ended it
    TIMED_OUT,    // ended at its deadline
    INTERRUPTED,  // ended because the caller's interrupt flag was raised
    NOT_STARTED,  // status: the errno of the start
};

struct Program_Call {
    const char* name;         // how log lines name it, such as "netplan apply"
    const char* const* argv;  // argv[0] is looked up in PATH; ends with nullptr
    std::chrono::milliseconds deadline;
    std::chrono::milliseconds term_grace = program_term_grace;
    // When given, a non-zero value (set by a signal handler) ends the
    // program as the deadline would.
    const volatile sig_atomic_t* interrupt = nullptr;
};

struct Program_Result {
    Program_Outcome outcome = Program_Outcome::NOT_STARTED;
    int status = 0;
    std::string output;  // standard output, its last program_output_cap bytes
    std::string errors;  // standard error, likewise

    bool succeeded() const { return outcome == Program_Outcome::EXITED && status == 0; }
};

// Runs the program and waits for its end. The one place a program starts;
// C linkage and a file of its own (program_runner.cpp), so that the fuzz
// targets can replace it at link time for every caller.
extern "C" void run_program_call(const Program_Call* call, Program_Result* result);

// The file posix_spawnp starts for `name`: a name holding '/' as it is,
// else the first executable of that name in a folder of PATH (when unset,
// /usr/bin:/bin). Empty when there is none; run_program_call then starts
// nothing and reports ENOENT (also where a vfork turns into a fork, as under
// user-mode emulation, and a failed exec would show only as exit 127).
std::string find_program(const char* name);

// run_program_call; when the program did not succeed and `caller` is given,
// one "[ERROR] <caller>: <describe_program_failure>" line.
Program_Result run_program(const char* caller, const Program_Call& call);

// Why the program did not succeed, for a log line: "<name> failed (exit
// N): <message>", "<name> was ended by signal N: <message>", "<name> did not
// finish within N s; its process group was ended", "<name> was interrupted;
// its process group was ended", "<name> could not be started: <error text>".
// Without a message the part from ": " on is left out.
std::string describe_program_failure(const Program_Call& call, const Program_Result& result);

// The line of a program's output that says what went wrong: the first line
// that starts with "<file>:<line>:<column>:"; else, after a Python
// traceback, its last line; else the first line that is not a warning (nor
// the continuation of one). Empty when there is none. Cut to
// program_message_max bytes. `errors` is looked at before `output`.
std::string choose_program_message(std::string_view errors, std::string_view output);

// The last line of `output` as fgets into a buffer of `size` bytes would
// leave it after reading everything: the last line with its line end, or of
// a line longer than size - 1 bytes its last piece. Empty for no output or
// size < 2.
std::string last_output_piece(std::string_view output, std::size_t size);
