// Owner of one file descriptor: closed when the holder goes, so that no
// early return leaves a descriptor open. A negative value holds nothing.
// Shared by the common library and the daemon; private to both (not
// installed).
#pragma once

#include <unistd.h>

class Fd_Holder {
public:
    explicit Fd_Holder(int fd = -1) : fd_(fd) {}
    ~Fd_Holder() { (void)close_now(); }
    Fd_Holder(const Fd_Holder&) = delete;
    Fd_Holder& operator=(const Fd_Holder&) = delete;

    int get() const { return fd_; }

    // Closes what the holder had and holds fd from now on.
    void reset(int fd)
    {
        (void)close_now();
        fd_ = fd;
    }

    // Closes now; true when there was nothing to close or the close succeeded
    // (a failed close of a written file can mean lost data).
    bool close_now()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || close(fd) == 0;
    }

private:
    int fd_;
};
