// FUSE mount served by background threads; see fuse_mount.h.
#include "fuse_mount.h"

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace vboard {
namespace {

// Two threads: a stalled BMC transaction must not hold up the other files.
constexpr int serving_threads = 2;
constexpr int error_pause_ms = 10;  // after an unexpected error of the FUSE device

// Whether a board is mounted at `mountpoint` (an absolute, canonical path).
// Read from the mount table: touching the folder itself could wait for ever
// on a board whose server hangs.
bool board_mounted_at(const std::string& mountpoint)
{
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);) {
        // id parent major:minor root mount-point options... - type source options
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        const size_t dash = line.find(" - ");
        if (point == mountpoint && dash != std::string::npos && line.compare(dash + 3, 12, "fuse.vboard ") == 0) {
            return true;
        }
    }
    return false;
}

// A board left by a crashed run (or one whose server hangs) is detached
// before the new one mounts; boards are never stacked.
void clear_old_mounts(const std::string& mountpoint)
{
    constexpr int max_stacked = 8;
    for (int i = 0; i < max_stacked && board_mounted_at(mountpoint); ++i) {
        umount2(mountpoint.c_str(), MNT_DETACH);
    }
}

}  // namespace

bool make_folders(const std::string& path)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            const std::string part = path.substr(0, at);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

FuseMount::FuseMount(const std::string& mountpoint, const fuse_operations& operations, void* user_data)
    : mountpoint_(mountpoint)
{
    clear_old_mounts(mountpoint_);
    if (!make_folders(mountpoint_)) {
        throw std::runtime_error("cannot create " + mountpoint_ + ": " + std::strerror(errno));
    }
    char name[] = "vboard";
    char option[] = "-o";
    char options[] = "fsname=vboard,subtype=vboard";
    char* argv[] = {name, option, options, nullptr};
    struct fuse_args args = FUSE_ARGS_INIT(3, argv);
    fuse_ = fuse_new(&args, &operations, sizeof operations, user_data);
    fuse_opt_free_args(&args);  // option parsing may have copied them
    if (fuse_ == nullptr) {
        throw std::runtime_error("fuse_new failed for " + mountpoint_);
    }
    if (fuse_mount(fuse_, mountpoint_.c_str()) != 0) {
        fuse_destroy(fuse_);
        throw std::runtime_error("cannot mount the board at " + mountpoint_);
    }
    const int fd = fuse_session_fd(fuse_get_session(fuse_));
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (pipe2(wake_, O_CLOEXEC) != 0) {
        fuse_unmount(fuse_);
        fuse_destroy(fuse_);
        throw std::runtime_error("pipe2 failed");
    }
    for (int i = 0; i < serving_threads; ++i) {
        threads_.emplace_back([this] { serve(); });
    }
}

FuseMount::~FuseMount()
{
    (void)!write(wake_[1], "x", 1);
    for (std::thread& t : threads_) {
        t.join();
    }
    fuse_unmount(fuse_);
    fuse_destroy(fuse_);
    close(wake_[0]);
    close(wake_[1]);
}

void FuseMount::serve()
{
    struct fuse_session* session = fuse_get_session(fuse_);
    struct fuse_buf buffer = {};
    while (!fuse_session_exited(session)) {
        struct pollfd fds[2] = {{fuse_session_fd(session), POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[1].revents != 0) {
            break;
        }
        // The device is non-blocking: another thread may have taken the request.
        const int received = fuse_session_receive_buf(session, &buffer);
        if (received == 0) {
            break;  // unmounted, or the session was ended
        }
        if (received < 0) {
            // A server that stops serving leaves its own process waiting for
            // ever on the board: go on, unless told to stop.
            if (received != -EAGAIN && received != -EINTR) {
                std::fprintf(stderr, "vboard: reading %s: %s\n", mountpoint_.c_str(), std::strerror(-received));
                poll(&fds[1], 1, error_pause_ms);
            }
            continue;
        }
        fuse_session_process_buf(session, &buffer);
    }
    std::free(buffer.mem);
}

}  // namespace vboard
