// Binding the socket server's listening socket to its path. Private to the
// library (not installed).
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

// Binds fd to address (length bytes of it). A path already in use is taken
// over only when it is a socket that nobody listens on (connecting to it is
// refused): the file of a server that ended. A regular file, a live server's
// socket or anything else at the path stays as it is, and false is returned
// (as for every other failed bind; errno as bind left it, or EADDRINUSE).
bool bind_socket_path(int fd, const sockaddr_un& address, socklen_t length);
