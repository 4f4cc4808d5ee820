// Waking a worker thread from its wait through its eventfd: other threads
// signal it after they have queued work or asked it to stop. Shared by the
// common library and the daemon; private to both (not installed).
//
// The worker attaches its eventfd once it waits on it and detaches it before
// the descriptor closes. Signals are written under the mutex, so that none
// reaches a descriptor number that the worker has closed and the process
// has handed out again.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <mutex>

class Wake_Signal {
public:
    // Wakes the worker (no effect while no eventfd is attached).
    void signal()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fd_ >= 0) {
            const uint64_t one = 1;
            (void)!write(fd_, &one, sizeof one);
        }
    }

    // The worker's eventfd from now on; -1 detaches it.
    void attach(int event_fd)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = event_fd;
    }

private:
    std::mutex mutex_;
    int fd_ = -1;
};

// Takes the pending wake-ups of a non-blocking eventfd (the worker looks at
// all its work after every wait, so their number does not matter).
inline void clear_wake_signal(int event_fd)
{
    uint64_t count = 0;
    (void)!read(event_fd, &count, sizeof count);
}
