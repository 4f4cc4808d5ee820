// A daemon binary run as a child process of the test, as a service manager
// would run it: its own working directory, the test's environment (so the
// recording fakes are first in PATH), standard output and standard error
// captured line by line, stopped by SIGTERM.
//
// The child is killed (SIGKILL) and reaped when the holder goes, and also
// when the test process dies first (PR_SET_PDEATHSIG), so a failed test never
// leaves a daemon behind on the board.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace e2e {

class DaemonProcess {
public:
    // Starts `binary` (no arguments) in `working_dir`. Throws
    // std::runtime_error when the process cannot be created; a binary that
    // cannot be executed ends at once with exit status 127.
    DaemonProcess(const std::string& binary, const std::string& working_dir);
    ~DaemonProcess();
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Everything the daemon printed so far (standard output and error).
    std::string output() const;
    // Waits until the output contains `text`; true when it does.
    bool wait_output(const std::string& text, std::chrono::milliseconds timeout) const;

    // True while the process has not ended.
    bool running();
    // Waits for the process to end on its own; its wait status, or nothing
    // when it still runs after `timeout`.
    std::optional<int> wait_exit(std::chrono::milliseconds timeout);
    // Sends SIGTERM and reaps the process (SIGKILL when it is still there
    // after `timeout`); its wait status.
    int stop(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    void read_output(int fd);
    bool reap(bool block);

    pid_t pid_ = -1;
    std::optional<int> status_;
    std::thread reader_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string output_;
};

}  // namespace e2e
