// Module service_notify: readiness, status and watchdog messages to the
// service manager (systemd's notification protocol, sd_notify(3)).
//
// The protocol is one datagram per message on the AF_UNIX socket named by
// NOTIFY_SOCKET (a path, or "@name" for the abstract namespace), holding
// newline-separated assignments such as "READY=1". systemd documents it as a
// stable interface; this module speaks it directly, so the daemon needs no
// library for it (libsystemd would add about 1 MiB of resident memory and
// seven libraries to a daemon that stays near 3 MiB, and an arm64 multiarch
// library to the cross build). Without NOTIFY_SOCKET nothing is sent.
//
// A send never blocks: a service manager that stops reading its socket (its
// queue holds about ten datagrams) must not stop the daemon's reports. A
// message that finds the queue full is not sent; the first one of such a
// stall is logged, the others of that stall are not.
//
// The watchdog: when the service manager sets WATCHDOG_USEC (and WATCHDOG_PID
// names this process, or is not set), feed_service_watchdog sends
// "WATCHDOG=1" while the BMC link shows progress: its loop-iteration counter
// advanced within the last link_progress_window. A hung link (say, a command
// that never returns) or a hung main loop then stops the pings, and the
// service manager kills and restarts the service.
//
// Threads: main thread only.
#pragma once

#include <chrono>
#include <cstdint>

#include "daemon_timing.h"  // link_progress_window: how long the link's counter may stand still

// Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID and removes them from
// the environment, so that the commands the daemon runs cannot speak for
// it. Call once, before any other thread starts.
void init_service_notify();

enum class Notify_Result : uint8_t {
    SENT,
    NO_SOCKET,  // NOTIFY_SOCKET was not set (or names no Unix socket): nothing to send to
    NOT_SENT,   // the send failed or would have blocked: the caller may try again later
};

// Sends one message (assignments separated by "\n") without blocking. A
// full queue logs "[ERROR] send_service_notify: notification socket full,
// message not sent: <socket>: <error>" once per stall; other failures are
// not logged (the service manager may simply not be listening).
Notify_Result send_service_notify(const char* message);

// Watchdog interval the service manager asked for, in microseconds; 0 when
// it asked for none.
uint64_t get_service_watchdog_usec();

// What the watchdog knows of the link's progress.
struct Link_Progress {
    bool seen = false;
    uint64_t last_count = 0;
    std::chrono::steady_clock::time_point last_advance{};
};

// Pure step of the watchdog: notes the link's counter at `now`; true while
// the counter advanced within link_progress_window of now (the first sample
// counts as an advance).
bool update_link_progress(Link_Progress& progress, uint64_t link_loop_count, std::chrono::steady_clock::time_point now);

// Sends "WATCHDOG=1" when the watchdog is on and the link progresses.
// Returns whether it sent.
bool feed_service_watchdog(uint64_t link_loop_count);
