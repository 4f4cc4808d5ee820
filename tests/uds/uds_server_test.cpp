// Local socket packet server against real Unix sockets in a fresh folder per
// test, with real client connections. Each case runs in its own process, so
// the module's state starts fresh in every case.
#include "UDS_BMC_packet_thread.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "uds_test_client.h"

using namespace BMC;
using namespace uds_test;
using Clock = std::chrono::steady_clock;

namespace {

const char thread_prefix[] = "[ERROR] UDS_BMC_Packet_Thread: UDS_BMC_Packet_Thread: ";

std::string thread_line(const std::string& tail) { return thread_prefix + tail + "\n"; }

int count_of(const std::string& text, const std::string& part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

long elapsed_ms(Clock::time_point since)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

std::string data_text(const Packet& packet)
{
    return packet.data ? std::string(reinterpret_cast<const char*>(packet.data)) : std::string();
}

// Sends a WRITE that asks for a response and reads the next packet.
void get_exchange(Client& client, uint8_t subaddress, const char* text, Packet* response)
{
    Packet request;
    set_request(&request, PACKET_TYPE::WRITE, true, subaddress, text);
    ASSERT_TRUE(client.send(request));
    ASSERT_EQ(client.receive(response), 0);
}

// Sends a request that asks for a response and checks the echo.
void expect_round_trip(Client& client, uint8_t subaddress, const char* text)
{
    Packet response;
    ASSERT_NO_FATAL_FAILURE(get_exchange(client, subaddress, text, &response));
    EXPECT_EQ(get_Packet_Type(response), PACKET_TYPE::WRITE_RESPONSE);
    EXPECT_EQ(get_Packet_Subaddress(response), subaddress);
    EXPECT_FALSE(get_Packet_Broadcast(response));
    EXPECT_EQ(data_text(response), text);
}

// ---- start and its refusals ----

TEST_F(ServerTest, Start_RefusesNullHandlerAndStartsWithoutErrorHandler)
{
    EXPECT_EQ(init_UDS_BMC_Packet_Thread(nullptr, error_handler, socket_path().c_str()), 1);
    EXPECT_FALSE(get_UDS_BMC_Packet_Thread_Start_Flag());
    EXPECT_NE(access(socket_path().c_str(), F_OK), 0);

    ASSERT_EQ(start(false), 0);
    EXPECT_TRUE(get_UDS_BMC_Packet_Thread_Start_Flag());
    Client client(socket_path());
    expect_round_trip(client, 1, "hello");
}

TEST_F(ServerTest, Start_AcceptsPathOf107CharactersAndRefuses108)
{
    std::string base = dir_.path() + "/";
    std::string longest = base + std::string(uds_socket_path_max_length - base.size(), 's');
    ASSERT_EQ(longest.size(), 107u);
    std::string too_long = longest + "s";

    EXPECT_EQ(init_UDS_BMC_Packet_Thread(echo_handler, nullptr, too_long.c_str()), 1);
    EXPECT_FALSE(get_UDS_BMC_Packet_Thread_Start_Flag());
    EXPECT_EQ(init_UDS_BMC_Packet_Thread(echo_handler, nullptr, ""), 1);
    EXPECT_EQ(init_UDS_BMC_Packet_Thread(echo_handler, nullptr, nullptr), 1);

    ASSERT_EQ(init_UDS_BMC_Packet_Thread(echo_handler, nullptr, longest.c_str()), 0);
    Client client(longest);
    expect_round_trip(client, 2, "long path");
}

int other_handler(const Packet&, Packet*) { return 0; }

TEST_F(ServerTest, Start_RefusesSecondStartWhileRunning)
{
    ASSERT_EQ(start(), 0);
    std::string other = dir_.file("other.sock");
    EXPECT_EQ(init_UDS_BMC_Packet_Thread(other_handler, nullptr, other.c_str()), 1);
    EXPECT_NE(access(other.c_str(), F_OK), 0);
    EXPECT_TRUE(get_UDS_BMC_Packet_Thread_Start_Flag());

    // The first server still serves with its own handler.
    Client client(socket_path());
    expect_round_trip(client, 3, "still echo");
}

TEST_F(ServerTest, Start_ReturnsAfterBindFailureAndClosesItsSocket)
{
    int fds_before = get_open_fd_count();
    std::string unreachable = dir_.file("missing/uds.sock");
    Clock::time_point begun = Clock::now();
    EXPECT_EQ(init_UDS_BMC_Packet_Thread(echo_handler, nullptr, unreachable.c_str()), 1);
    EXPECT_LT(elapsed_ms(begun), 1000);
    EXPECT_FALSE(get_UDS_BMC_Packet_Thread_Start_Flag());
    EXPECT_EQ(get_open_fd_count(), fds_before);

    // A failed start leaves the module ready for a good one.
    ASSERT_EQ(start(), 0);
    EXPECT_EQ(stop_and_log(), thread_line("bind() error"));
}

// Leaves exactly `free_slots` descriptors obtainable under a lowered limit.
class FdLimit {
public:
    explicit FdLimit(int free_slots)
    {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = 64;
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd; (fd = dup(0)) >= 0;)
            fillers_.push_back(fd);
        for (int i = 0; i < free_slots && !fillers_.empty(); i++) {
            close(fillers_.back());
            fillers_.pop_back();
        }
    }
    ~FdLimit()
    {
        for (int fd : fillers_)
            close(fd);
        setrlimit(RLIMIT_NOFILE, &saved_);
    }

private:
    rlimit saved_;
    std::vector<int> fillers_;
};

TEST_F(ServerTest, Start_ReportsSocketAndEpollFailuresAndClosesDescriptors)
{
    // One good run first: the sanitizer runtimes do their own look-ups (which
    // need descriptors) on first use.
    ASSERT_EQ(start(), 0);
    set_UDS_BMC_Packet_Thread_Stop();
    // Without its socket file the bind needs no descriptor to look at it.
    unlink(socket_path().c_str());
    int fds_before = get_open_fd_count();
    {
        FdLimit limit(0);
        EXPECT_EQ(start(), 1);
    }
    EXPECT_EQ(get_open_fd_count(), fds_before);
    {
        FdLimit limit(1);  // the socket is created, the epoll instance is not
        EXPECT_EQ(start(), 1);
    }
    EXPECT_EQ(get_open_fd_count(), fds_before);
    EXPECT_EQ(stop_and_log(), thread_line("error") + "[ERROR] UDS_BMC_Packet_Thread: "
                                                     "UDS_BMC_Packet_Thread epoll_ctl() error\n");
}

TEST_F(ServerTest, Start_ReplacesSocketFileNobodyListensOn)
{
    make_abandoned_socket(socket_path());
    ASSERT_EQ(start(), 0);
    Client client(socket_path());
    expect_round_trip(client, 4, "fresh");
    EXPECT_EQ(stop_and_log(), "");
}

TEST_F(ServerTest, Start_LeavesRegularFileAndLiveServerAtThePath)
{
    nk_test::write_file(socket_path(), "not a socket");
    EXPECT_EQ(start(), 1);
    EXPECT_EQ(nk_test::read_file(socket_path()), "not a socket");

    // Another server listens on the path: it keeps it and its clients.
    std::string live_path = dir_.file("live.sock");
    int live = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, live_path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(live, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(live, 4), 0);
    EXPECT_EQ(init_UDS_BMC_Packet_Thread(echo_handler, nullptr, live_path.c_str()), 1);
    Client reaching(live_path);
    ASSERT_TRUE(reaching.connected());
    int accepted = accept(live, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    close(accepted);
    close(live);
    EXPECT_EQ(stop_and_log(), thread_line("bind() error") + thread_line("bind() error"));
}

// ---- stop and restart ----

TEST_F(ServerTest, Stop_ReturnsAtOnceWhenNotRunning)
{
    Clock::time_point begun = Clock::now();
    set_UDS_BMC_Packet_Thread_Stop();
    EXPECT_LT(elapsed_ms(begun), 5);
    EXPECT_FALSE(get_UDS_BMC_Packet_Thread_Start_Flag());
}

TEST_F(ServerTest, Stop_ClosesEverythingAndStartServesAgain)
{
    int fds_before = get_open_fd_count();
    ASSERT_EQ(start(), 0);
    Client client(socket_path());
    expect_round_trip(client, 5, "before stop");

    set_UDS_BMC_Packet_Thread_Stop();
    EXPECT_FALSE(get_UDS_BMC_Packet_Thread_Start_Flag());
    EXPECT_TRUE(client.closed_by_server());
    client.set_close();
    EXPECT_EQ(get_open_fd_count(), fds_before);
    EXPECT_FALSE(Client(socket_path()).connected());  // file left, nobody listening
    EXPECT_EQ(access(socket_path().c_str(), F_OK), 0);

    ASSERT_EQ(start(), 0);
    Client again(socket_path());
    expect_round_trip(again, 6, "after restart");
    EXPECT_EQ(stop_and_log(), "");
}

void set_nothing(int) {}

TEST_F(ServerTest, Loop_FailedWaitIsLoggedAndServingGoesOn)
{
    struct sigaction action {};
    action.sa_handler = set_nothing;  // no SA_RESTART: the wait fails with EINTR
    sigaction(SIGUSR1, &action, nullptr);
    ASSERT_EQ(start(), 0);  // the server thread inherits SIGUSR1 unblocked
    sigset_t usr1;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, nullptr);  // so only the server thread can take it
    // The idle thread sits in its wait nearly all the time; a signal that
    // lands between two waits interrupts nothing.
    for (int i = 0; i < 10; i++) {
        kill(getpid(), SIGUSR1);
        usleep(5000);
    }

    Client client(socket_path());
    expect_round_trip(client, 13, "after the signal");
    std::string log = stop_and_log();
    int failed_waits = count_of(log, thread_line("epoll_wait() error"));
    EXPECT_GE(failed_waits, 1);
    EXPECT_EQ(count_of(log, "\n"), failed_waits);
    pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
}

std::atomic<pid_t> handler_thread_id{0};

// Echo handler that notes the thread it runs on: the server thread.
int thread_noting_handler(const Packet& request, Packet* response)
{
    handler_thread_id = static_cast<pid_t>(syscall(SYS_gettid));
    return echo_handler(request, response);
}

TEST_F(ServerTest, Idle_ServerThreadSleepsUntilThereIsWork)
{
    ASSERT_EQ(init_UDS_BMC_Packet_Thread(thread_noting_handler, nullptr, socket_path().c_str()), 0);
    Client client(socket_path());
    expect_round_trip(client, 1, "then quiet");
    long switches = read_thread_switches(handler_thread_id);
    usleep(1000 * 1000);
    // Waits that time out every 20 ms would be 50.
    EXPECT_LE(read_thread_switches(handler_thread_id) - switches, 3);
}

// ---- requests ----

TEST_F(ServerTest, Request_WithoutResponseFlagGetsNoReply)
{
    ASSERT_EQ(start(), 0);
    Client client(socket_path());
    Packet silent;
    set_request(&silent, PACKET_TYPE::WRITE, false, 7, "no reply");
    ASSERT_TRUE(client.send(silent));
    // The next packet on the connection answers the second request.
    expect_round_trip(client, 8, "reply");
    EXPECT_FALSE(client.readable_within(50));
}

TEST_F(ServerTest, Request_FailedHandlerWithErrorHandlerAnswersThenCloses)
{
    ASSERT_EQ(start(true), 0);
    Client client(socket_path());
    Packet response;
    ASSERT_NO_FATAL_FAILURE(get_exchange(client, failing_subaddress, "fail", &response));
    EXPECT_EQ(get_Packet_Subaddress(response), error_handler_subaddress);
    EXPECT_EQ(data_text(response), "fail");
    EXPECT_TRUE(client.closed_by_server());
    EXPECT_EQ(error_handler_calls, 1);
    EXPECT_EQ(error_handler_last_code, 1);
    EXPECT_EQ(stop_and_log(), "");
}

TEST_F(ServerTest, Request_FailedHandlerWithoutErrorHandlerLogsAndKeepsConnection)
{
    ASSERT_EQ(start(false), 0);
    Client client(socket_path());
    Packet response;
    ASSERT_NO_FATAL_FAILURE(get_exchange(client, failing_subaddress, "fail", &response));
    EXPECT_EQ(get_Packet_Subaddress(response), failing_subaddress);

    expect_round_trip(client, 9, "still open");
    EXPECT_EQ(error_handler_calls, 0);
    EXPECT_EQ(stop_and_log(), thread_line("BMC_Packet_Receive_Error_Handler() error"));
}

TEST_F(ServerTest, Request_HangUpIsDroppedQuietly)
{
    ASSERT_EQ(start(), 0);
    Client leaving(socket_path());
    expect_round_trip(leaving, 10, "bye");
    leaving.set_close();

    // Two exchanges on another connection: the second is served in a wait
    // after the one that saw the hang-up.
    Client staying(socket_path());
    expect_round_trip(staying, 11, "one");
    expect_round_trip(staying, 12, "two");
    EXPECT_EQ(stop_and_log(), "");
}

TEST_F(ServerTest, Request_PartialPacketIsDroppedAfterReceiveTimeout)
{
    ASSERT_EQ(start(), 0);
    Client half_header(socket_path());
    const uint8_t header_part[] = {9, 0x03};
    ASSERT_TRUE(half_header.send_bytes(header_part, sizeof header_part));
    Clock::time_point begun = Clock::now();
    EXPECT_TRUE(half_header.closed_by_server());
    EXPECT_GE(elapsed_ms(begun), 15);
    EXPECT_LT(elapsed_ms(begun), 500);

    Client half_data(socket_path());
    const uint8_t data_part[] = {9, 0x03, 0x05, 0, 1, 'a'};
    ASSERT_TRUE(half_data.send_bytes(data_part, sizeof data_part));
    EXPECT_TRUE(half_data.closed_by_server());

    std::string log = stop_and_log();
    EXPECT_EQ(count_of(log, "[ERROR] get_UDS_BMC_Packet_Read: get_UDS_BMC_Packet_Read: "
                            "packet header read error, 0x"),
              1);
    EXPECT_EQ(count_of(log, "[ERROR] get_UDS_BMC_Packet_Read: get_UDS_BMC_Packet_Read: "
                            "packet data read error, 0x"),
              1);
    EXPECT_EQ(count_of(log, thread_line("get_UDS_BMC_Packet_Read() error")), 2);
    EXPECT_EQ(count_of(log, "\n"), 4);
}

TEST_F(ServerTest, Request_DribblingClientIsDroppedWhileOthersAreServed)
{
    ASSERT_EQ(start(), 0);
    Client dribbler(socket_path());
    ASSERT_TRUE(dribbler.connected());
    // A 255-byte request, one byte every 15 ms: nearly 4 s if the server
    // waited for all of it.
    std::vector<uint8_t> request(255, 'd');
    request[0] = 255;
    request[1] = 0x03;
    request[2] = 0x85;
    std::atomic<int> sent{0};
    std::thread dribble([&] {
        for (uint8_t byte : request) {
            if (!dribbler.send_bytes(&byte, 1))
                break;  // dropped: EPIPE
            sent++;
            usleep(15000);
        }
    });
    usleep(30000);  // the server is inside the dribbled request now

    Clock::time_point begun = Clock::now();
    Client other(socket_path());
    expect_round_trip(other, 14, "served");
    EXPECT_LT(elapsed_ms(begun), 1500);
    dribble.join();
    EXPECT_LT(sent, 100);

    std::string log = stop_and_log();
    EXPECT_EQ(count_of(log, thread_line("get_UDS_BMC_Packet_Read() error")), 1);
    EXPECT_EQ(count_of(log, "[ERROR] get_UDS_BMC_Packet_Read: get_UDS_BMC_Packet_Read: packet "), 1);
    EXPECT_EQ(count_of(log, "\n"), 2) << log;
}

// A request that one connection sends a byte at a time, every 15 ms: far
// slower than the arrival window, so each is dropped and connects again.
void run_dribblers(const std::string& path, int count, const std::atomic<bool>& done)
{
    std::vector<uint8_t> request(255, 'd');
    request[0] = 255;
    request[2] = 0x85;
    std::vector<std::unique_ptr<Client>> dribblers(count);
    std::vector<size_t> sent(count, 0);
    while (!done) {
        for (int i = 0; i < count; i++) {
            if (dribblers[i] == nullptr || !dribblers[i]->send_bytes(&request[sent[i] % 255], 1)) {
                dribblers[i].reset(new Client(path));
                sent[i] = 0;
            } else {
                sent[i]++;
            }
        }
        usleep(15000);
    }
}

TEST_F(ServerTest, Request_DribblersDoNotDelayOtherClients)
{
    ASSERT_EQ(start(), 0);
    std::atomic<bool> done{false};
    std::thread dribblers(run_dribblers, socket_path(), 20, std::cref(done));
    usleep(50000);  // every dribbler is inside a request now

    Client other(socket_path());
    long slowest_ms = 0;
    for (int i = 0; i < 30; i++) {
        Clock::time_point begun = Clock::now();
        expect_round_trip(other, static_cast<uint8_t>(i), "between dribbles");
        slowest_ms = std::max(slowest_ms, elapsed_ms(begun));
        if (HasFatalFailure())
            break;  // the connection is out of step
        usleep(10000);
    }
    done = true;
    dribblers.join();
    // Each dribbler holding the thread for its arrival window would make
    // this seconds.
    EXPECT_LT(slowest_ms, 250);
}

// ---- clients ----

TEST_F(ServerTest, Clients_HundredServedThe101stClosedUntilOneLeaves)
{
    ASSERT_EQ(start(), 0);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 100; i++) {
        clients.emplace_back(new Client(socket_path()));
        ASSERT_TRUE(clients.back()->connected());
        expect_round_trip(*clients.back(), static_cast<uint8_t>(i), "in");
    }

    Client refused(socket_path());
    ASSERT_TRUE(refused.connected());  // accepted, then closed at once
    EXPECT_TRUE(refused.closed_by_server());

    clients.front()->set_close();
    expect_round_trip(*clients[1], 1, "one");
    expect_round_trip(*clients[1], 2, "two");
    Client late(socket_path());
    expect_round_trip(late, 200, "late");
    EXPECT_EQ(stop_and_log(), thread_line("MAX_Client!"));
}

TEST_F(ServerTest, Clients_OneThatDoesNotReadIsDroppedPastItsSendQueue)
{
    ASSERT_EQ(start(), 0);
    Client stalled(socket_path());
    timeval timeout{1, 0};  // a server that stopped reading fails the test, not hangs it
    setsockopt(stalled.fd(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    Packet request;
    set_request(&request, PACKET_TYPE::WRITE, true, 1, std::string(249, 'r').c_str());
    int sent = 0;
    while (sent < 5000 && stalled.send(request))
        sent++;
    EXPECT_LT(sent, 5000);  // its 255-byte responses filled the socket and the queue

    Client other(socket_path());
    expect_round_trip(other, 2, "still served");
    std::string log = stop_and_log();
    EXPECT_EQ(count_of(log, std::string(thread_prefix) + "send queue full, client dropped, fd: "), 1) << log;
    EXPECT_EQ(count_of(log, "\n"), 1) << log;
}

// Runs the server in this (forked) process with room for two clients only,
// until SIGTERM; sends a byte on ready once it serves, then the process's
// CPU time in ms once stopped. Its log goes to log_path.
int run_server_short_of_descriptors(const std::string& path, const std::string& log_path, int ready)
{
    FILE* log = freopen(log_path.c_str(), "w", stdout);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);  // the server thread inherits it
    alarm(20);
    if (log == nullptr || init_UDS_BMC_Packet_Thread(echo_handler, nullptr, path.c_str()) != 0)
        return 2;
    // The three lowest free numbers: the first two stay usable.
    int free_fds[3] = {dup(0), dup(0), dup(0)};
    for (int fd : free_fds)
        close(fd);
    rlimit limit;
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(free_fds[2]);
    setrlimit(RLIMIT_NOFILE, &limit);
    char byte = 1;
    if (write(ready, &byte, 1) != 1)
        return 3;
    int signal_number = 0;
    sigwait(&term, &signal_number);
    timespec cpu;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu);
    set_UDS_BMC_Packet_Thread_Stop();
    fflush(stdout);
    int cpu_ms = static_cast<int>(cpu.tv_sec * 1000 + cpu.tv_nsec / 1000000);
    return write(ready, &cpu_ms, sizeof cpu_ms) == sizeof cpu_ms ? 0 : 3;
}

TEST_F(ServerTest, Clients_OutOfDescriptorsTheServerRestsAndLogsOnce)
{
    int channel[2];
    ASSERT_EQ(pipe2(channel, O_CLOEXEC), 0);
    std::string path = socket_path();
    std::string log_path = dir_.file("server.log");
    Child server([&] { return run_server_short_of_descriptors(path, log_path, channel[1]); });
    close(channel[1]);
    char byte = 0;
    ASSERT_EQ(read(channel[0], &byte, 1), 1);

    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 6; i++)
        clients.emplace_back(new Client(path));
    expect_round_trip(*clients[0], 1, "first");
    expect_round_trip(*clients[1], 2, "second");
    usleep(1000 * 1000);  // four clients wait, the server has no descriptor for them
    clients[0]->set_close();
    expect_round_trip(*clients[2], 3, "once one left");

    kill(server.pid(), SIGTERM);
    EXPECT_EQ(server.wait_for_exit(5000), 0);
    int cpu_ms = -1;
    EXPECT_EQ(read(channel[0], &cpu_ms, sizeof cpu_ms), static_cast<ssize_t>(sizeof cpu_ms));
    close(channel[0]);
    // Retrying accept without rest would take the whole second.
    EXPECT_LT(cpu_ms, 300);
    std::string log = nk_test::read_file(log_path);
    EXPECT_EQ(count_of(log, thread_line("accept() failed, return: 0xFFFFFFFF")), 1) << log.substr(0, 500);
    EXPECT_EQ(count_of(log, "\n"), 1) << log.substr(0, 500);
}

// ---- broadcasts ----

Packet* broadcast_sample(NODE_ID node)
{
    Packet* packet = new Packet();
    const char text[] = "news";
    init_Packet(packet, node, false, PACKET_TYPE::WRITE, false, ADDRESS::STATUS, 6, DATA_TYPE::STRING, text,
                sizeof text);
    return packet;
}

TEST_F(ServerTest, Broadcast_RefusedBeforeFirstStart)
{
    std::unique_ptr<Packet> packet(broadcast_sample(NODE_ID::NAREL_1));
    EXPECT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 1);
    EXPECT_EQ(stop_and_log(), "[ERROR] set_UDS_BMC_Broadcast_Packet: set_UDS_BMC_Broadcast_Packet: "
                              "broadcast queue enqueue error: 1\n");
}

TEST_F(ServerTest, Broadcast_ReachesEveryClientWithFlagAndCallersNode)
{
    ASSERT_EQ(start(), 0);
    Client first(socket_path());
    Client second(socket_path());
    expect_round_trip(first, 1, "a");
    expect_round_trip(second, 1, "b");

    std::unique_ptr<Packet> packet(broadcast_sample(NODE_ID::NAREL_7));
    ASSERT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 0);
    EXPECT_FALSE(get_Packet_Broadcast(*packet));  // the caller's packet is untouched
    EXPECT_EQ(packet->packet_length, 10);

    for (Client* client : {&first, &second}) {
        Packet received;
        ASSERT_EQ(client->receive(&received), 0);
        EXPECT_TRUE(get_Packet_Broadcast(received));
        EXPECT_EQ(get_Packet_Node_ID(received), NODE_ID::NAREL_7);
        EXPECT_EQ(get_Packet_Address(received), ADDRESS::STATUS);
        EXPECT_EQ(get_Packet_Subaddress(received), 6);
        EXPECT_EQ(data_text(received), "news");
    }
    EXPECT_EQ(stop_and_log(), "");
}

std::atomic<bool> broadcast_queued{false};

// Echo handler that queues one broadcast from the server thread itself.
int broadcasting_handler(const Packet& request, Packet* response)
{
    if (!broadcast_queued.exchange(true)) {
        std::unique_ptr<Packet> packet(broadcast_sample(NODE_ID::NAREL_2));
        set_UDS_BMC_Broadcast_Packet(*packet);
    }
    return echo_handler(request, response);
}

TEST_F(ServerTest, Broadcast_GoesOutWhileRequestsKeepTheServerBusy)
{
    ASSERT_EQ(init_UDS_BMC_Packet_Thread(broadcasting_handler, nullptr, socket_path().c_str()), 0);
    Client listener(socket_path());
    // The handler's own broadcast follows the response it was made with.
    Packet response;
    ASSERT_NO_FATAL_FAILURE(get_exchange(listener, 1, "first", &response));
    EXPECT_FALSE(get_Packet_Broadcast(response));
    Packet from_handler;
    ASSERT_EQ(listener.receive(&from_handler), 0);
    EXPECT_EQ(get_Packet_Node_ID(from_handler), NODE_ID::NAREL_2);

    // Another client sends a request every 10 ms and reads what comes.
    std::atomic<bool> done{false};
    std::thread busy([&] {
        Client client(socket_path());
        Packet request;
        set_request(&request, PACKET_TYPE::WRITE, true, 5, "busy");
        while (!done && client.send(request)) {
            Packet received;
            while (client.receive(&received) == 0 && get_Packet_Broadcast(received)) {
            }
            usleep(10000);
        }
    });
    std::unique_ptr<Packet> packet(broadcast_sample(NODE_ID::NAREL_4));
    for (uint8_t i = 0; i < 20; i++) {
        set_Packet_Subaddress(packet.get(), i);
        EXPECT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 0);
        Packet received;
        if (listener.receive(&received) != 0) {
            ADD_FAILURE() << "broadcast " << int(i) << " did not arrive within a second";
            break;
        }
        EXPECT_EQ(get_Packet_Subaddress(received), i);
        usleep(7000);
    }
    done = true;
    busy.join();
}

TEST_F(ServerTest, Broadcast_QueuedBurstGoesOutAtOnce)
{
    ASSERT_EQ(start(), 0);
    Client client(socket_path());
    expect_round_trip(client, 1, "ready");

    std::unique_ptr<Packet> packet(broadcast_sample(NODE_ID::NAREL_4));
    for (int i = 0; i < 200; i++) {
        set_Packet_Subaddress(packet.get(), static_cast<uint8_t>(i));
        ASSERT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 0);
    }
    Clock::time_point begun = Clock::now();
    for (int i = 0; i < 200; i++) {
        Packet received;
        ASSERT_EQ(client.receive(&received), 0);
        EXPECT_EQ(get_Packet_Subaddress(received), i);
    }
    // One packet per idle 20 ms wait would take 4 s.
    EXPECT_LT(elapsed_ms(begun), 1000);
}

TEST_F(ServerTest, Broadcast_FailedWriteDropsThatClientOnly)
{
    ASSERT_EQ(start(), 0);
    Client first(socket_path());
    Client broken(socket_path());
    Client last(socket_path());
    for (Client* client : {&first, &broken, &last})
        expect_round_trip(*client, 1, "hi");
    // The server's writes to this connection now fail with EPIPE.
    ASSERT_EQ(shutdown(broken.fd(), SHUT_RD), 0);

    std::unique_ptr<Packet> packet(broadcast_sample(NODE_ID::NAREL_5));
    ASSERT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 0);
    ASSERT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 0);
    for (Client* client : {&first, &last}) {
        for (int i = 0; i < 2; i++) {
            Packet received;
            ASSERT_EQ(client->receive(&received), 0);
            EXPECT_TRUE(get_Packet_Broadcast(received));
        }
    }

    // Dropped after the first pass: the second broadcast did not try it again.
    std::string log = stop_and_log();
    EXPECT_EQ(count_of(log, "[ERROR] set_UDS_BMC_Packet_Write: set_UDS_BMC_Packet_Write: "
                            "packet header write error, 0x"),
              1);
    EXPECT_EQ(count_of(log, std::string(thread_prefix) + "broadcast packet write error, fd: "), 1);
    EXPECT_EQ(count_of(log, "\n"), 2) << log;
}

TEST_F(ServerTest, Broadcast_QueueHolds200AndRestartDropsThem)
{
    ASSERT_EQ(start(), 0);
    set_UDS_BMC_Packet_Thread_Stop();  // nobody sends now; the queue stays set up

    std::unique_ptr<Packet> packet(broadcast_sample(NODE_ID::NAREL_6));
    for (int i = 0; i < 200; i++)
        ASSERT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 0);
    EXPECT_EQ(set_UDS_BMC_Broadcast_Packet(*packet), 1);
    EXPECT_FALSE(get_Packet_Broadcast(*packet));
    EXPECT_EQ(data_text(*packet), "news");

    // The restart frees the stale packets (the leak checker watches) and
    // sends none of them.
    ASSERT_EQ(start(), 0);
    Client client(socket_path());
    EXPECT_FALSE(client.readable_within(100));
    EXPECT_EQ(stop_and_log(), "[ERROR] set_UDS_BMC_Broadcast_Packet: set_UDS_BMC_Broadcast_Packet: "
                              "broadcast queue enqueue error: 1\n");
}

}  // namespace
