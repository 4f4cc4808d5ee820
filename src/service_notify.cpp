#include "service_notify.h"

#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>

#include "fd_holder.h"
#include "log_line.h"

namespace {

std::string notify_socket;
uint64_t watchdog_usec = 0;
Link_Progress link_progress;
bool notify_stalled = false;  // the last send found the socket's queue full

uint64_t read_watchdog_usec(const char* usec_text, const char* pid_text)
{
    if (usec_text == nullptr) {
        return 0;
    }
    if (pid_text != nullptr && strtoll(pid_text, nullptr, 10) != static_cast<long long>(getpid())) {
        return 0;  // meant for another process
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long usec = strtoull(usec_text, &end, 10);
    if (errno != 0 || end == usec_text || *end != '\0') {
        return 0;
    }
    return usec;
}

}  // namespace

void init_service_notify()
{
    const char* socket_name = getenv("NOTIFY_SOCKET");
    notify_socket = socket_name != nullptr ? socket_name : "";
    watchdog_usec = read_watchdog_usec(getenv("WATCHDOG_USEC"), getenv("WATCHDOG_PID"));
    unsetenv("NOTIFY_SOCKET");
    unsetenv("WATCHDOG_USEC");
    unsetenv("WATCHDOG_PID");
}

Notify_Result send_service_notify(const char* message)
{
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // A path, or "@name" in the abstract namespace (leading NUL); nothing
    // else (such as vsock) is spoken here.
    if ((notify_socket[0] != '/' && notify_socket[0] != '@') || notify_socket.size() >= sizeof address.sun_path) {
        return Notify_Result::NO_SOCKET;
    }
    memcpy(address.sun_path, notify_socket.data(), notify_socket.size());
    if (address.sun_path[0] == '@') {
        address.sun_path[0] = '\0';
    }
    const socklen_t length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + notify_socket.size() +
                                                    (notify_socket[0] == '/' ? 1 : 0));

    Fd_Holder sock(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0) {
        return Notify_Result::NOT_SENT;
    }
    const size_t size = strlen(message);
    ssize_t sent;
    do {
        sent = sendto(sock.get(), message, size, MSG_NOSIGNAL | MSG_DONTWAIT,
                      reinterpret_cast<struct sockaddr*>(&address), length);
    } while (sent < 0 && errno == EINTR);
    const int error = errno;
    if (sent < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
        if (!notify_stalled) {
            log_line("[ERROR] %s: notification socket full, message not sent: %s: %s\n", "send_service_notify",
                     notify_socket.c_str(), strerror(error));
        }
        notify_stalled = true;
        return Notify_Result::NOT_SENT;
    }
    if (sent != static_cast<ssize_t>(size)) {
        return Notify_Result::NOT_SENT;
    }
    notify_stalled = false;
    return Notify_Result::SENT;
}

uint64_t get_service_watchdog_usec() { return watchdog_usec; }

bool update_link_progress(Link_Progress& progress, uint64_t link_loop_count, std::chrono::steady_clock::time_point now)
{
    if (!progress.seen || link_loop_count != progress.last_count) {
        progress.seen = true;
        progress.last_count = link_loop_count;
        progress.last_advance = now;
    }
    return now - progress.last_advance <= link_progress_window;
}

bool feed_service_watchdog(uint64_t link_loop_count)
{
    if (watchdog_usec == 0) {
        return false;
    }
    if (!update_link_progress(link_progress, link_loop_count, std::chrono::steady_clock::now())) {
        return false;
    }
    return send_service_notify("WATCHDOG=1") == Notify_Result::SENT;
}
