// Runs a piece of a test in a child process with a deadline and, outside
// sanitizer builds (whose shadow memory needs the address space), a limit
// on its address space: code that would hang or eat memory on a faulty
// build then fails its case quickly instead of stalling the suite.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>

namespace nk_test {

// Generous: the child does a few file operations.
constexpr std::chrono::seconds child_deadline{30};
constexpr rlim_t child_address_space = rlim_t{1} << 30;

struct ChildResult {
    bool finished = false;  // false: killed at the deadline
    int exit_code = -1;
    std::string output;  // what the child wrote to standard output
};

template <typename Body>
ChildResult run_bounded(Body body)
{
    ChildResult result;
    int out[2];
    if (pipe(out) != 0) {
        return result;
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(out[0]);
        dup2(out[1], STDOUT_FILENO);
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        const struct rlimit limit = {child_address_space, child_address_space};
        setrlimit(RLIMIT_AS, &limit);
#endif
        const int code = body();
        std::fflush(stdout);
        _exit(code);
    }
    close(out[1]);
    const auto deadline = std::chrono::steady_clock::now() + child_deadline;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        struct pollfd p = {out[0], POLLIN, 0};
        const int ready = left.count() <= 0 ? 0 : poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        char block[4096];
        const ssize_t n = read(out[0], block, sizeof block);
        if (n <= 0) {
            result.finished = true;
            break;
        }
        result.output.append(block, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.finished = result.finished && WIFEXITED(status);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace nk_test
