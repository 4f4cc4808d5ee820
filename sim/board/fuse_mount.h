// One FUSE filesystem mounted for the holder's lifetime and served by
// background threads of this process.
//
// The threads poll the FUSE device together with a wake-up pipe, so the
// destructor can stop them at once; then it unmounts (lazily, as root does)
// and frees the session. A board still mounted at the mount point (left by
// a crashed run, or served by a hanging one) is detached before mounting.
#pragma once

#define FUSE_USE_VERSION 35
#include <fuse.h>

#include <string>
#include <thread>
#include <vector>

namespace vboard {

class FuseMount {
public:
    // Mounts `operations` at `mountpoint` (created if missing); user_data is
    // what fuse_get_context()->private_data gives the operations.
    // Throws std::runtime_error when it cannot mount.
    FuseMount(const std::string& mountpoint, const fuse_operations& operations, void* user_data);
    ~FuseMount();
    FuseMount(const FuseMount&) = delete;
    FuseMount& operator=(const FuseMount&) = delete;

private:
    void serve();

    std::string mountpoint_;
    struct fuse* fuse_ = nullptr;
    int wake_[2] = {-1, -1};
    std::vector<std::thread> threads_;
};

// Creates a folder and its missing parents; false on failure.
bool make_folders(const std::string& path);

}  // namespace vboard
