// Local socket packet server (see UDS_BMC_packet_thread.h for the calls).
//
// One thread owns the listening socket, the epoll instance, the eventfd that
// wakes it and the client connections; the host's threads share only
// broadcast_queue with it (under broadcast_queue_mutex) and wake it through
// server_wake. The thread sleeps in epoll_wait until a socket is ready, it
// is woken, or the earliest of its deadlines passes: a request's arrival
// window, the end of a pause in accepting.
//
// Every socket is non-blocking: requests are gathered per client and taken
// when whole; responses and broadcasts are written at once while nothing
// waits before them, and otherwise wait in the client's capped send queue
// until the socket takes them.
#include "UDS_BMC_packet_thread.h"

#include <errno.h>
#include <pthread.h>
#include <stddef.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "fd_holder.h"
#include "log_line.h"
#include "mutex_lock_handler.h"
#include "packet_image.h"
#include "queue.h"
#include "uds_client_buffers.h"
#include "uds_socket_path.h"
#include "wake_signal.h"

namespace {

const unsigned int max_client_count = 100;
const int max_epoll_event_count = max_client_count + 2;  // every client, the listening socket, the eventfd
const int listen_backlog = 20;
// A request must arrive whole within this time from its first byte; a client
// that dribbles its bytes more slowly is dropped.
constexpr std::chrono::milliseconds packet_arrival_window{100};
// After the process or the system ran out of descriptors, accepting rests
// until a client leaves or this time has passed.
constexpr std::chrono::milliseconds accept_pause{100};
const unsigned int broadcast_queue_size = 200;
const useconds_t poll_interval_us = 10000;  // start-up poll and back-off after a failed wait

const char thread_name[] = "UDS_BMC_Packet_Thread";

static_assert(uds_socket_path_max_length < sizeof(sockaddr_un::sun_path),
              "the socket path and its NUL fit the socket address");

UDS_BMC_Packet_Handler BMC_Packet_Handler = nullptr;
UDS_BMC_Packet_Receive_Error_Handler BMC_Packet_Receive_Error_Handler = nullptr;
char uds_socket_path[128];
static_assert(uds_socket_path_max_length < sizeof uds_socket_path, "the module's copy holds the path");

// Shared between the controlling thread and the server thread, hence atomic.
std::atomic<bool> thread_start_flag{false};         // set once serving, cleared on exit
std::atomic<bool> thread_stop_request_flag{false};  // set by the stop call
std::atomic<bool> thread_end_flag{false};           // set by the thread as its last step
// Claimed by a start and released once its thread is joined: at most one
// server thread works on the module state.
std::atomic<bool> thread_claimed{false};
pthread_t thread;
// Signalled after a broadcast is queued and by the stop call.
Wake_Signal server_wake;

Queue<BMC::Packet*> broadcast_queue;
// Statically initialised once: it may be in use by a broadcasting thread at
// any time, so it is never initialised again.
pthread_mutex_t broadcast_queue_mutex = PTHREAD_MUTEX_INITIALIZER;
// Serialises every Enqueue against the set-up of broadcast_queue (its
// storage and binding change there).
pthread_mutex_t broadcast_queue_setup_mutex = PTHREAD_MUTEX_INITIALIZER;

// epoll tokens: a client's slot and the slot's generation (so that an event
// of a dropped client never reaches the next one in its slot), or one of
// these two.
const uint64_t listen_token = max_client_count;
const uint64_t wake_token = max_client_count + 1;

struct Client_Slot {
    Fd_Holder fd;  // -1 while the slot is free
    uint32_t generation = 0;
    bool output_watched = false;  // EPOLLOUT registered: the send queue waits
    Request_Buffer requests;
    Send_Queue sends;
};

// State of one run of the server thread; connections still open when the
// thread ends are closed with it.
struct Server_State {
    Fd_Holder uds_fd;
    Fd_Holder packet_epollfd;
    Fd_Holder wake_fd;
    epoll_event packet_epoll_event[max_epoll_event_count] = {};
    Client_Slot clients[max_client_count];
    // Accepting rests after descriptors ran out, until a client leaves or
    // accept_resume_at. One log line for the whole episode, which ends once
    // every connecting client has been taken.
    bool accept_paused = false;
    bool accept_failure_logged = false;
    Server_Clock::time_point accept_resume_at;
    // Some client may hold part of a request: its arrival window runs.
    bool partial_pending = false;
};

uint64_t make_client_token(const Server_State& s, unsigned int slot)
{
    return static_cast<uint64_t>(s.clients[slot].generation) << 32 | slot;
}

// Registers (EPOLL_CTL_ADD) or changes (EPOLL_CTL_MOD) fd's interest; epoll_ctl's result.
int watch_in_epoll(int epollfd, int operation, int fd, uint32_t events, uint64_t token)
{
    epoll_event event;
    memset(&event, 0, sizeof event);
    event.events = events;
    event.data.u64 = token;
    return epoll_ctl(epollfd, operation, fd, &event);
}

// Frees every packet still queued (a new start drops what an earlier run
// left unsent), then gives the queue its storage and lock unless an earlier
// start already did. false when the storage could not be obtained.
bool prepare_broadcast_queue()
{
    pthread_mutex_lock(&broadcast_queue_setup_mutex);
    BMC::Packet* stale = nullptr;
    while (broadcast_queue.Dequeue(&stale) == 0) {
        std::unique_ptr<BMC::Packet> dropped(stale);  // freed unsent
    }
    if (broadcast_queue.get_Size() != broadcast_queue_size) {
        broadcast_queue.init(broadcast_queue_size);
        if (broadcast_queue.get_Size() == broadcast_queue_size) {
            broadcast_queue.set_Lock_Control_Handler(set_Mutex_Lock, &broadcast_queue_mutex);
        }
    }
    bool ready = broadcast_queue.get_Size() == broadcast_queue_size;
    pthread_mutex_unlock(&broadcast_queue_setup_mutex);
    return ready;
}

// Set-up of the server thread; every failure is logged here. Descriptors
// opened before a failure are closed by the state's holders.
bool open_server(Server_State* s)
{
    if (!prepare_broadcast_queue()) {
        log_line("[ERROR] %s: %s: error\n", thread_name, thread_name);
        return false;
    }

    s->uds_fd.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (s->uds_fd.get() < 0) {
        log_line("[ERROR] %s: %s: error\n", thread_name, thread_name);
        return false;
    }

    sockaddr_un server;
    memset(&server, 0, sizeof server);
    server.sun_family = AF_UNIX;
    size_t path_length = strlen(uds_socket_path);
    memcpy(server.sun_path, uds_socket_path, path_length + 1);
    socklen_t address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_length);
    if (!bind_socket_path(s->uds_fd.get(), server, address_length)) {
        log_line("[ERROR] %s: %s: bind() error\n", thread_name, thread_name);
        return false;
    }

    if (listen(s->uds_fd.get(), listen_backlog) != 0) {
        log_line("[ERROR] %s: %s listen() error\n", thread_name, thread_name);
        return false;
    }

    s->packet_epollfd.reset(epoll_create1(EPOLL_CLOEXEC));
    if (watch_in_epoll(s->packet_epollfd.get(), EPOLL_CTL_ADD, s->uds_fd.get(), EPOLLIN, listen_token) != 0) {
        log_line("[ERROR] %s: %s epoll_ctl() error\n", thread_name, thread_name);
        return false;
    }
    s->wake_fd.reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (watch_in_epoll(s->packet_epollfd.get(), EPOLL_CTL_ADD, s->wake_fd.get(), EPOLLIN, wake_token) != 0) {
        log_line("[ERROR] %s: %s epoll_ctl() error\n", thread_name, thread_name);
        return false;
    }
    return true;
}

// Accepting again after a pause (a client left, or the pause is over).
void resume_accepting(Server_State* s)
{
    if (!s->accept_paused)
        return;
    s->accept_paused = false;
    watch_in_epoll(s->packet_epollfd.get(), EPOLL_CTL_ADD, s->uds_fd.get(), EPOLLIN, listen_token);
}

// Forgets a client: out of the epoll instance, closed, its slot free.
void drop_client(Server_State* s, unsigned int slot)
{
    Client_Slot& client = s->clients[slot];
    epoll_ctl(s->packet_epollfd.get(), EPOLL_CTL_DEL, client.fd.get(), nullptr);
    client.fd.reset(-1);
    client.generation++;
    client.output_watched = false;
    client.requests.clear();
    client.sends.clear();
    resume_accepting(s);  // a descriptor is free again
}

// Logs a failed write to a client as the stream writer's phases and its
// origin, then drops the client.
void drop_client_after_write_failure(Server_State* s, unsigned int slot, bool header_sent, Packet_Origin origin)
{
    const int fd = s->clients[slot].fd.get();
    if (header_sent) {
        log_line("[ERROR] %s: %s: packet data write error, 0x%X\n", "set_UDS_BMC_Packet_Write",
                 "set_UDS_BMC_Packet_Write", fd);
    } else {
        log_line("[ERROR] %s: %s: packet header write error, 0x%X\n", "set_UDS_BMC_Packet_Write",
                 "set_UDS_BMC_Packet_Write", fd);
    }
    if (origin == Packet_Origin::BROADCAST) {
        log_line("[ERROR] %s: %s: broadcast packet write error, fd: %d\n", thread_name, thread_name, fd);
    } else {
        log_line("[ERROR] %s: %s: set_UDS_BMC_Packet_Write() error\n", thread_name, thread_name);
    }
    drop_client(s, slot);
}

bool is_would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// Writes what waits in the client's send queue as far as its socket takes
// it, and watches for room while something still waits. false when the
// client was dropped (the write failed).
bool send_queued_packets(Server_State* s, unsigned int slot)
{
    Client_Slot& client = s->clients[slot];
    while (!client.sends.is_empty()) {
        iovec pieces[Send_Queue::max_pieces];
        const int count = client.sends.fill_pieces(pieces);
        const ssize_t written = writev(client.fd.get(), pieces, count);
        if (written < 0) {
            if (is_would_block(errno))
                break;
            drop_client_after_write_failure(s, slot, client.sends.is_front_header_sent(),
                                            client.sends.get_front_origin());
            return false;
        }
        client.sends.consume(static_cast<size_t>(written));
    }
    const bool waiting = !client.sends.is_empty();
    if (waiting != client.output_watched) {
        client.output_watched = waiting;
        watch_in_epoll(s->packet_epollfd.get(), EPOLL_CTL_MOD, client.fd.get(),
                       EPOLLIN | EPOLLRDHUP | (waiting ? EPOLLOUT : 0u), make_client_token(*s, slot));
    }
    return true;
}

// Sends one packet image to a client: written at once while nothing waits
// before it, else (or for what the socket did not take) queued behind.
// false when the client was dropped: the write failed, or the queue is full
// (the client does not read).
bool send_client_image(Server_State* s, unsigned int slot, const uint8_t* image, size_t length, Packet_Origin origin)
{
    Client_Slot& client = s->clients[slot];
    size_t sent = 0;
    if (client.sends.is_empty()) {
        const ssize_t written = write(client.fd.get(), image, length);
        if (written < 0 && !is_would_block(errno)) {
            drop_client_after_write_failure(s, slot, false, origin);
            return false;
        }
        sent = written > 0 ? static_cast<size_t>(written) : 0;
        if (sent == length)
            return true;
    }
    if (!client.sends.push(image, length, sent, origin)) {
        log_line("[ERROR] %s: %s: send queue full, client dropped, fd: %d\n", thread_name, thread_name,
                 client.fd.get());
        drop_client(s, slot);
        return false;
    }
    return send_queued_packets(s, slot);
}

// The bytes of a packet record, encoded once for however many clients get
// them. A record whose data store was refused has none to send.
struct Packet_Bytes {
    uint8_t image[packet_image_max_length];
    size_t length = 0;
    bool sendable = false;
};

Packet_Bytes encode_for_send(const BMC::Packet& packet)
{
    Packet_Bytes bytes;
    bytes.sendable = !(BMC::get_Packet_Data_Length(packet) > 0 && packet.data == nullptr);
    if (bytes.sendable)
        bytes.length = encode_packet_image(packet, bytes.image);
    return bytes;
}

// Sends a packet's bytes to a client; false when the client was dropped. A
// record without bytes is a failed data write, as the stream writer reports
// it.
bool send_client_bytes(Server_State* s, unsigned int slot, const Packet_Bytes& bytes, Packet_Origin origin)
{
    if (!bytes.sendable) {
        drop_client_after_write_failure(s, slot, true, origin);
        return false;
    }
    return bytes.length == 0 || send_client_image(s, slot, bytes.image, bytes.length, origin);
}

// Takes connecting clients while a slot is free, closes them when none is;
// on running out of descriptors, rests (see Server_State). At most a
// backlog's worth per wake: a flood of connections does not starve the
// connected clients.
void accept_clients(Server_State* s)
{
    for (int i = 0; i < listen_backlog; i++) {
        int fd = accept4(s->uds_fd.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd == -1) {
            const int error = errno;
            if (error == EAGAIN || error == EWOULDBLOCK) {
                s->accept_failure_logged = false;  // every connecting client is taken: the episode is over
                return;
            }
            const bool out_of_descriptors = error == EMFILE || error == ENFILE;
            if (!out_of_descriptors || !s->accept_failure_logged) {
                log_line("[ERROR] %s: %s: accept() failed, return: 0x%02X\n", thread_name, thread_name, fd);
            }
            if (out_of_descriptors) {
                s->accept_failure_logged = true;
                s->accept_paused = true;
                s->accept_resume_at = Server_Clock::now() + accept_pause;
                epoll_ctl(s->packet_epollfd.get(), EPOLL_CTL_DEL, s->uds_fd.get(), nullptr);
            }
            return;
        }

        unsigned int slot = 0;
        while (slot < max_client_count && s->clients[slot].fd.get() >= 0)
            slot++;
        if (slot == max_client_count) {
            close(fd);
            log_line("[ERROR] %s: %s: MAX_Client!\n", thread_name, thread_name);
            continue;
        }
        s->clients[slot].fd.reset(fd);
        watch_in_epoll(s->packet_epollfd.get(), EPOLL_CTL_ADD, fd, EPOLLIN | EPOLLRDHUP, make_client_token(*s, slot));
    }
}

// Gives up on a client whose request stopped part-way, with the reader's
// lines (the phase it lacks; the thread's line unless the peer hung up).
void drop_client_after_read_failure(Server_State* s, unsigned int slot, bool hung_up)
{
    Client_Slot& client = s->clients[slot];
    if (client.requests.is_partial()) {
        if (client.requests.get_missing_phase() == 2) {
            log_line("[ERROR] %s: %s: packet header read error, 0x%X\n", "get_UDS_BMC_Packet_Read",
                     "get_UDS_BMC_Packet_Read", client.fd.get());
        } else {
            log_line("[ERROR] %s: %s: packet data read error, 0x%X\n", "get_UDS_BMC_Packet_Read",
                     "get_UDS_BMC_Packet_Read", client.fd.get());
        }
    }
    if (!hung_up) {
        log_line("[ERROR] %s: %s: get_UDS_BMC_Packet_Read() error\n", thread_name, thread_name);
    }
    drop_client(s, slot);
}

// Hands one request to the handlers and answers it when it asks for a
// response. false when the client was dropped.
bool serve_request(Server_State* s, unsigned int slot, const BMC::Packet& receive_packet)
{
    BMC::Packet response_packet;
    bool socket_close_flag = false;
    if (BMC_Packet_Handler == nullptr) {
        log_line("[ERROR] %s: %s: BMC_Packet_Handler() error\n", thread_name, thread_name);
        socket_close_flag = true;
    } else if (BMC_Packet_Handler(receive_packet, &response_packet) != 0) {
        if (BMC_Packet_Receive_Error_Handler != nullptr) {
            BMC_Packet_Receive_Error_Handler(&response_packet, 1);
            socket_close_flag = true;
        } else {
            log_line("[ERROR] %s: %s: BMC_Packet_Receive_Error_Handler() error\n", thread_name, thread_name);
        }
    }
    if (BMC::get_Packet_Response_Require_Flag(receive_packet) &&
        !send_client_bytes(s, slot, encode_for_send(response_packet), Packet_Origin::RESPONSE)) {
        return false;
    }
    if (socket_close_flag) {
        drop_client(s, slot);
        return false;
    }
    return true;
}

// Reads what a client has sent and serves every request that is whole.
void read_client_requests(Server_State* s, unsigned int slot, uint32_t events)
{
    Client_Slot& client = s->clients[slot];
    size_t room = 0;
    uint8_t* at = client.requests.prepare_read(&room);
    const ssize_t got = read(client.fd.get(), at, room);
    if (got <= 0) {
        if (got < 0 && is_would_block(errno))
            return;
        // End of stream, or a failed read: the peer is gone or broken.
        drop_client_after_read_failure(s, slot, got == 0 || (events & EPOLLRDHUP) != 0);
        return;
    }
    client.requests.commit(static_cast<size_t>(got), Server_Clock::now());
    BMC::Packet receive_packet;
    while (client.requests.take_packet(&receive_packet)) {
        if (!serve_request(s, slot, receive_packet))
            return;
    }
    if (client.requests.is_partial())
        s->partial_pending = true;
}

// Sends every queued broadcast to every client.
void send_broadcasts(Server_State* s)
{
    for (;;) {
        // Dequeue into a valid pointer gives 1 only for an empty queue.
        BMC::Packet* dequeued = nullptr;
        uint8_t ret = broadcast_queue.Dequeue(&dequeued);
        if (ret == 1)
            return;
        if (ret != 0) {
            log_line("[ERROR] %s: %s: broadcast queue dequeue error: %d\n", thread_name, thread_name, ret);
        }
        if (dequeued == nullptr)
            return;
        std::unique_ptr<BMC::Packet> packet(dequeued);
        const Packet_Bytes bytes = encode_for_send(*packet);
        for (unsigned int slot = 0; slot < max_client_count; slot++) {
            if (s->clients[slot].fd.get() >= 0)
                send_client_bytes(s, slot, bytes, Packet_Origin::BROADCAST);
        }
    }
}

// Whole milliseconds from now until at, rounded up (a wait never ends
// before the deadline); 0 once it has passed.
int count_wait_ms(Server_Clock::time_point now, Server_Clock::time_point at)
{
    if (at <= now)
        return 0;
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at - now + std::chrono::microseconds(999));
    return static_cast<int>(ms.count());
}

// Drops the clients whose request has not come whole within its window and
// ends a pause in accepting that is over. Returns the wait until the
// earliest deadline still pending, -1 for none.
int check_deadlines(Server_State* s)
{
    if (!s->partial_pending && !s->accept_paused)
        return -1;  // the common case: nothing to look at
    const Server_Clock::time_point now = Server_Clock::now();
    if (s->accept_paused && now >= s->accept_resume_at)
        resume_accepting(s);
    bool pending = s->accept_paused;
    Server_Clock::time_point earliest = s->accept_resume_at;
    s->partial_pending = false;
    for (unsigned int slot = 0; slot < max_client_count; slot++) {
        Client_Slot& client = s->clients[slot];
        if (client.fd.get() < 0 || !client.requests.is_partial())
            continue;
        const Server_Clock::time_point deadline = client.requests.get_partial_since() + packet_arrival_window;
        if (deadline <= now) {
            drop_client_after_read_failure(s, slot, false);
            continue;
        }
        s->partial_pending = true;
        if (!pending || deadline < earliest) {
            pending = true;
            earliest = deadline;
        }
    }
    return pending ? count_wait_ms(now, earliest) : -1;
}

void run_server_loop(Server_State* s)
{
    int timeout_ms = -1;
    while (!thread_stop_request_flag) {
        int count = epoll_wait(s->packet_epollfd.get(), s->packet_epoll_event, max_epoll_event_count, timeout_ms);
        if (count == -1) {
            log_line("[ERROR] %s: %s: epoll_wait() error\n", thread_name, thread_name);
            usleep(poll_interval_us);
            count = 0;
        }
        for (int i = 0; i < count; i++) {
            const epoll_event& event = s->packet_epoll_event[i];
            const uint64_t token = event.data.u64;
            if (token == listen_token) {
                accept_clients(s);
            } else if (token == wake_token) {
                clear_wake_signal(s->wake_fd.get());
                send_broadcasts(s);
            } else {
                const unsigned int slot = static_cast<unsigned int>(token & 0xFFFFFFFFu);
                if (slot >= max_client_count || make_client_token(*s, slot) != token)
                    continue;  // the client of this event has been dropped in this pass
                // Input first: a peer that hung up is dropped quietly, not
                // after a failed write of what waited for it.
                if ((event.events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0)
                    read_client_requests(s, slot, event.events);
                if ((event.events & EPOLLOUT) != 0 && make_client_token(*s, slot) == token)
                    send_queued_packets(s, slot);
            }
        }
        timeout_ms = check_deadlines(s);
    }
}

void* UDS_BMC_Packet_Thread(void*)
{
    {
        std::unique_ptr<Server_State> state(new (std::nothrow) Server_State());
        if (state == nullptr) {
            log_line("[ERROR] %s: %s: error\n", thread_name, thread_name);
        } else if (open_server(state.get())) {
            server_wake.attach(state->wake_fd.get());
            send_broadcasts(state.get());  // what was queued before the eventfd could be signalled
            thread_start_flag = true;
            run_server_loop(state.get());
            server_wake.attach(-1);  // before the eventfd closes
        }
        // Leaving the scope closes the sockets, the epoll instance, the
        // eventfd and the remaining client connections.
    }
    thread_stop_request_flag = false;
    thread_start_flag = false;
    thread_end_flag = true;
    return nullptr;
}

}  // namespace

int init_UDS_BMC_Packet_Thread(UDS_BMC_Packet_Handler packet_handler,
                               UDS_BMC_Packet_Receive_Error_Handler packet_receive_error_handler,
                               const char* socket_path)
{
    if (packet_handler == nullptr || socket_path == nullptr)
        return 1;
    size_t path_length = strnlen(socket_path, uds_socket_path_max_length + 1);
    if (path_length == 0 || path_length > uds_socket_path_max_length)
        return 1;

    bool unclaimed = false;
    if (!thread_claimed.compare_exchange_strong(unclaimed, true))
        return 1;

    BMC_Packet_Handler = packet_handler;
    BMC_Packet_Receive_Error_Handler = packet_receive_error_handler;
    memcpy(uds_socket_path, socket_path, path_length);
    uds_socket_path[path_length] = '\0';

    thread_start_flag = false;
    thread_stop_request_flag = false;
    thread_end_flag = false;
    if (pthread_create(&thread, nullptr, UDS_BMC_Packet_Thread, nullptr) != 0) {
        thread_claimed = false;
        return 1;
    }

    // The thread either starts serving or ends in its set-up.
    while (!thread_start_flag && !thread_end_flag)
        usleep(poll_interval_us);
    if (thread_start_flag)
        return 0;
    pthread_join(thread, nullptr);
    thread_claimed = false;
    return 1;
}

void set_UDS_BMC_Packet_Thread_Stop()
{
    if (!thread_start_flag)
        return;
    thread_stop_request_flag = true;
    server_wake.signal();
    pthread_join(thread, nullptr);
    thread_claimed = false;
}

bool get_UDS_BMC_Packet_Thread_Start_Flag() { return thread_start_flag; }

uint8_t set_UDS_BMC_Broadcast_Packet(const BMC::Packet& packet)
{
    std::unique_ptr<BMC::Packet> copy(new BMC::Packet());
    BMC::init_Packet(copy.get(), packet);
    BMC::set_Packet_Node_ID_Broadcast(copy.get(), BMC::get_Packet_Node_ID(packet), true);

    pthread_mutex_lock(&broadcast_queue_setup_mutex);
    uint8_t ret = broadcast_queue.Enqueue(copy.get());
    pthread_mutex_unlock(&broadcast_queue_setup_mutex);
    // Codes 0 and 4 and above: the entry was taken; the queue owns the copy.
    if (ret == 0 || ret > 3) {
        copy.release();
        server_wake.signal();
    }
    if (ret == 0)
        return 0;

    log_line("[ERROR] %s: %s: broadcast queue enqueue error: %d\n", __func__, __func__, ret);
    return ret;
}
