// The one program runner (see program_runner.h): posix_spawnp with an
// argument vector, captured output, a deadline per program, the exit status.
// run_program_call stands alone in this file: every call of it comes from
// another file through the linker, so that a replacement at link time (the
// fuzz targets') takes every one.
#include "program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fd_holder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Longest sleep between two looks at whether the child has ended while its
// pipes stay open (a grandchild may hold them), and while they are closed.
constexpr std::chrono::milliseconds wait_slice{50};
constexpr std::chrono::milliseconds closed_pipes_slice{5};

// Standard input of every program.
constexpr char null_device[] = "/dev/null";

// The two output pipes' read ends (owned from construction on) and what
// came through them.
class Output_Capture {
public:
    Output_Capture(int out, int err, Program_Result& result)
        : streams_{{Fd_Holder(out), &result.output}, {Fd_Holder(err), &result.errors}}
    {}

    bool open() const { return streams_[0].fd.get() >= 0 || streams_[1].fd.get() >= 0; }

    // Waits up to `timeout` for output and reads what came; closes a pipe at
    // its end. Returns early when a signal arrives. True when it read or
    // closed something.
    bool read_some(std::chrono::milliseconds timeout)
    {
        struct pollfd fds[2];
        Stream* polled[2];
        nfds_t n = 0;
        for (Stream& s : streams_) {
            if (s.fd.get() >= 0) {
                fds[n] = {s.fd.get(), POLLIN, 0};
                polled[n++] = &s;
            }
        }
        if (poll(n == 0 ? nullptr : fds, n, static_cast<int>(timeout.count())) <= 0) {
            return false;
        }
        bool moved = false;
        for (nfds_t i = 0; i < n; ++i) {
            if (fds[i].revents != 0) {
                moved = read_once(*polled[i]) || moved;
            }
        }
        return moved;
    }

    // Reads what is already there (bounded: a grandchild may go on writing).
    void drain()
    {
        for (int i = 0; i < drain_reads && read_some(std::chrono::milliseconds(0)); ++i) {
        }
    }

private:
    struct Stream {
        Fd_Holder fd;
        std::string* text;
    };

    // Reads of a drain: 64 blocks of each pipe, four times what a pipe
    // buffers.
    static constexpr int drain_reads = 64;

    static bool read_once(Stream& s)
    {
        char block[4096];
        const ssize_t got = read(s.fd.get(), block, sizeof block);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            return false;
        }
        if (got <= 0) {
            s.fd.close_now();
            return true;
        }
        s.text->append(block, static_cast<std::size_t>(got));
        if (s.text->size() > program_output_cap) {
            s.text->erase(0, s.text->size() - program_output_cap);
        }
        return true;
    }

    Stream streams_[2];
};

// True once the child has ended; it stays a zombie (not reaped), so that its
// process group cannot be taken by another process meanwhile.
bool child_ended(pid_t pid)
{
    siginfo_t info = {};
    const int waited = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    // ECHILD: reaped already (SIGCHLD ignored by the process).
    return (waited == 0 && info.si_pid == pid) || (waited != 0 && errno == ECHILD);
}

// SIGTERM to the child's group, SIGKILL after the grace time (to whatever of
// the group is left, also when the child itself ended).
void end_process_group(pid_t pid, std::chrono::milliseconds grace, Output_Capture& capture)
{
    kill(-pid, SIGTERM);
    const auto give_up = Clock::now() + grace;
    while (!child_ended(pid) && Clock::now() < give_up) {
        capture.read_some(std::min(wait_slice, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   give_up - Clock::now() + std::chrono::milliseconds(1))));
    }
    kill(-pid, SIGKILL);
}

// Starts the program; its pid, or 0 with the errno in `error`.
pid_t start_program(const Program_Call& call, int out, int err, int& error)
{
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, null_device, O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    error = posix_spawnp(&pid, call.argv[0], &actions, &attributes, const_cast<char* const*>(call.argv), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : 0;
}

}  // namespace

std::string find_program(const char* name)
{
    if (std::strchr(name, '/') != nullptr) {
        return access(name, X_OK) == 0 ? name : "";
    }
    const char* path = getenv("PATH");
    const std::string folders = path != nullptr ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= folders.size();) {
        std::size_t end = folders.find(':', at);
        if (end == std::string::npos) {
            end = folders.size();
        }
        const std::string candidate = folders.substr(at, end - at) + "/" + name;
        struct stat st;
        if (end > at && access(candidate.c_str(), X_OK) == 0 && stat(candidate.c_str(), &st) == 0 &&
            S_ISREG(st.st_mode)) {
            return candidate;
        }
        at = end + 1;
    }
    return "";
}

extern "C" void run_program_call(const Program_Call* call, Program_Result* result)
{
    Program_Result& r = *result;
    r = Program_Result();
    if (find_program(call->argv[0]).empty()) {
        r.status = ENOENT;
        return;
    }
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    const bool piped = pipe2(out, O_CLOEXEC) == 0 && pipe2(err, O_CLOEXEC) == 0;
    const int pipe_error = errno;
    Output_Capture capture(out[0], err[0], r);
    Fd_Holder out_write(out[1]);
    Fd_Holder err_write(err[1]);
    if (!piped) {
        r.status = pipe_error;
        return;
    }
    int error = 0;
    const pid_t pid = start_program(*call, out_write.get(), err_write.get(), error);
    out_write.close_now();
    err_write.close_now();
    if (pid == 0) {
        r.status = error;
        return;
    }
    const auto deadline = Clock::now() + call->deadline;
    r.outcome = Program_Outcome::EXITED;
    for (;;) {
        if (child_ended(pid)) {
            capture.drain();
            break;
        }
        if (call->interrupt != nullptr && *call->interrupt != 0) {
            r.outcome = Program_Outcome::INTERRUPTED;
        } else if (Clock::now() >= deadline) {
            r.outcome = Program_Outcome::TIMED_OUT;
        }
        if (r.outcome != Program_Outcome::EXITED) {
            end_process_group(pid, call->term_grace, capture);
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()) +
                          std::chrono::milliseconds(1);
        capture.read_some(std::min(capture.open() ? wait_slice : closed_pipes_slice, left));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (r.outcome == Program_Outcome::EXITED) {
        r.outcome = WIFSIGNALED(status) ? Program_Outcome::SIGNALLED : Program_Outcome::EXITED;
        r.status = WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status);
    }
}
