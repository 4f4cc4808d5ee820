#include "daemon_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <vector>

namespace e2e {

DaemonProcess::DaemonProcess(const std::string& binary, const std::string& working_dir)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    // Everything the child needs is prepared before fork: between fork and
    // exec it only calls async-signal-safe functions.
    std::vector<char*> argv = {const_cast<char*>(binary.c_str()), nullptr};
    const pid_t parent = getpid();

    pid_ = fork();
    if (pid_ < 0) {
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent || chdir(working_dir.c_str()) != 0 || dup2(fds[1], STDOUT_FILENO) < 0 ||
            dup2(fds[1], STDERR_FILENO) < 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    reader_ = std::thread(&DaemonProcess::read_output, this, fds[0]);
}

DaemonProcess::~DaemonProcess()
{
    if (!status_) {
        kill(pid_, SIGKILL);
        reap(true);
    }
    // The pipe ends when the daemon and the commands it started have gone.
    reader_.join();
}

void DaemonProcess::read_output(int fd)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buffer, static_cast<size_t>(n));
        changed_.notify_all();
    }
    close(fd);
}

std::string DaemonProcess::output() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

bool DaemonProcess::wait_output(const std::string& text, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return output_.find(text) != std::string::npos; });
}

bool DaemonProcess::reap(bool block)
{
    if (status_) {
        return true;
    }
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == pid_) {
        status_ = status;
        return true;
    }
    return false;
}

bool DaemonProcess::running() { return !reap(false); }

std::optional<int> DaemonProcess::wait_exit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        usleep(10000);
    }
    return status_;
}

int DaemonProcess::stop(std::chrono::milliseconds timeout)
{
    if (!status_) {
        kill(pid_, SIGTERM);
        if (!wait_exit(timeout)) {
            kill(pid_, SIGKILL);
            reap(true);
        }
    }
    return *status_;
}

}  // namespace e2e
