// Binding the listening socket to its path (see uds_socket_path.h).
#include "uds_socket_path.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fd_holder.h"

namespace {

// True when a connection to the socket at address is refused: nobody listens
// there. A probe that cannot be made, or a listener whose backlog is full
// (the non-blocking connect fails with EAGAIN), counts as alive.
bool is_abandoned_socket(const sockaddr_un& address, socklen_t length)
{
    Fd_Holder probe(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (probe.get() < 0)
        return false;
    return connect(probe.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 && errno == ECONNREFUSED;
}

}  // namespace

bool bind_socket_path(int fd, const sockaddr_un& address, socklen_t length)
{
    const sockaddr* at = reinterpret_cast<const sockaddr*>(&address);
    if (bind(fd, at, length) == 0)
        return true;
    if (errno != EADDRINUSE)
        return false;
    struct stat status;
    if (lstat(address.sun_path, &status) != 0 || !S_ISSOCK(status.st_mode) || !is_abandoned_socket(address, length)) {
        errno = EADDRINUSE;
        return false;
    }
    // The socket file of a server that ended: replaced.
    if (unlink(address.sun_path) != 0)
        return false;
    return bind(fd, at, length) == 0;
}
