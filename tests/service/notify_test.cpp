// Service notification: the datagram a service manager receives, and the
// watchdog's view of the link's progress.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "service_notify.h"
#include "test_env.h"

namespace {

using namespace std::chrono_literals;

TEST(LinkProgress, AdvancesWithinTheWindowAndStopsWhenTheCounterStandsStill)
{
    Link_Progress progress;
    const auto t0 = std::chrono::steady_clock::time_point{} + 100s;
    EXPECT_TRUE(update_link_progress(progress, 7, t0)) << "the first sample";
    EXPECT_TRUE(update_link_progress(progress, 7, t0 + link_progress_window)) << "still within the window";
    EXPECT_FALSE(update_link_progress(progress, 7, t0 + link_progress_window + 1ms));
    EXPECT_FALSE(update_link_progress(progress, 7, t0 + 60s));
    EXPECT_TRUE(update_link_progress(progress, 8, t0 + 61s)) << "the link moves again";
    EXPECT_TRUE(update_link_progress(progress, 8, t0 + 61s + link_progress_window));
}

// A datagram socket bound at `address` (a path, or "@name" abstract).
int bind_socket(const std::string& address)
{
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un a = {};
    a.sun_family = AF_UNIX;
    memcpy(a.sun_path, address.data(), address.size());
    socklen_t length = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + address.size());
    if (address[0] == '@') {
        a.sun_path[0] = '\0';
    }
    EXPECT_EQ(bind(fd, reinterpret_cast<struct sockaddr*>(&a), length), 0) << address;
    return fd;
}

std::string receive(int fd)
{
    char buffer[256];
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    return n < 0 ? "(nothing)" : std::string(buffer, static_cast<size_t>(n));
}

TEST(ServiceNotify, SendsToAPathOrAnAbstractSocketAndTakesTheVariablesOutOfTheEnvironment)
{
    nk_test::TempDir dir;
    const std::string abstract = "@nk-notify-test-" + std::to_string(getpid());
    for (const std::string& address : {dir.file("notify"), abstract}) {
        const int fd = bind_socket(address);
        {
            nk_test::ScopedEnv socket("NOTIFY_SOCKET", address);
            nk_test::ScopedEnv usec("WATCHDOG_USEC", "30000000");
            init_service_notify();
            EXPECT_EQ(getenv("NOTIFY_SOCKET"), nullptr) << "commands would inherit it";
            EXPECT_EQ(getenv("WATCHDOG_USEC"), nullptr);
        }
        EXPECT_EQ(get_service_watchdog_usec(), 30000000u);
        EXPECT_EQ(send_service_notify("READY=1\nSTATUS=x"), Notify_Result::SENT);
        EXPECT_EQ(receive(fd), "READY=1\nSTATUS=x") << address;
        EXPECT_TRUE(feed_service_watchdog(1));
        EXPECT_EQ(receive(fd), "WATCHDOG=1") << address;
        close(fd);
    }

    // The watchdog of another process, or none: no ping.
    {
        nk_test::ScopedEnv socket("NOTIFY_SOCKET", dir.file("notify"));
        nk_test::ScopedEnv usec("WATCHDOG_USEC", "30000000");
        nk_test::ScopedEnv pid("WATCHDOG_PID", std::to_string(getpid() + 1));
        init_service_notify();
    }
    EXPECT_EQ(get_service_watchdog_usec(), 0u);
    EXPECT_FALSE(feed_service_watchdog(2));

    // Without NOTIFY_SOCKET nothing is sent.
    unsetenv("NOTIFY_SOCKET");
    init_service_notify();
    EXPECT_EQ(send_service_notify("READY=1"), Notify_Result::NO_SOCKET);
}

// A manager that stops reading: every send returns at once, and each stall
// is logged once, not per message.
TEST(ServiceNotify, FullSocketNeverBlocksAndEachStallIsLoggedOnce)
{
    nk_test::TempDir dir;
    const int fd = bind_socket(dir.file("notify"));
    {
        nk_test::ScopedEnv socket("NOTIFY_SOCKET", dir.file("notify"));
        init_service_notify();
    }
    // Sends until the queue is full and a few times more; the messages not
    // sent. The queue's length is the machine's net.unix.max_dgram_qlen (10
    // by the kernel, 512 where systemd sets it), so no fixed count fills it.
    auto send_past_full = [] {
        int not_sent = 0;
        for (int i = 0; i < 100000 && not_sent < 5; ++i) {
            not_sent += send_service_notify("WATCHDOG=1") == Notify_Result::NOT_SENT;
        }
        return not_sent;
    };
    testing::internal::CaptureStdout();
    EXPECT_GT(send_past_full(), 0) << "the queue never filled";
    while (receive(fd) != "(nothing)") {
    }
    EXPECT_EQ(send_service_notify("READY=1"), Notify_Result::SENT) << "read again";
    EXPECT_EQ(receive(fd), "READY=1");
    EXPECT_GT(send_past_full(), 0);
    const std::string line =
        "[ERROR] send_service_notify: notification socket full, message not sent: " + dir.file("notify") +
        ": Resource temporarily unavailable\n";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), line + line);
    close(fd);
}

}  // namespace
