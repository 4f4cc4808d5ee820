// Local socket packet server (see UDS_BMC_packet_thread.h for the calls).
//
// One thread owns the listening socket, the epoll instance, the client
// connections and both client lists; the host's threads share only
// broadcast_queue with it, under broadcast_queue_mutex.
#include "UDS_BMC_packet_thread.h"

#include <pthread.h>
#include <stddef.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>

#include "BMC_data_protocol_read_write.h"
#include "fd_holder.h"
#include "list.h"
#include "log_line.h"
#include "mutex_lock_handler.h"
#include "packet_read_within.h"
#include "queue.h"

namespace {

const unsigned int max_client_count = 100;
const int max_epoll_event_count = max_client_count + 1;  // every client and the listening socket
const int epoll_wait_timeout_ms = 20;
const int listen_backlog = 20;
const suseconds_t client_socket_timeout_us = 20000;  // receive and send, per client call
// A request must arrive whole within this time from its first byte: a client
// that dribbles its bytes cannot hold the thread for longer (each read is
// bounded by the receive time-out on top).
const unsigned int packet_arrival_window_ms = 100;
const unsigned int broadcast_queue_size = 200;
const useconds_t poll_interval_us = 10000;  // start-up poll and back-off after a failed wait

const char thread_name[] = "UDS_BMC_Packet_Thread";

static_assert(uds_socket_path_max_length < sizeof(sockaddr_un::sun_path),
              "the socket path and its NUL fit the socket address");
static_assert(max_epoll_event_count <= 255, "events are served with an 8-bit index");

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

Queue<BMC::Packet*> broadcast_queue;
// Statically initialised once: it may be in use by a broadcasting thread at
// any time, so it is never initialised again.
pthread_mutex_t broadcast_queue_mutex = PTHREAD_MUTEX_INITIALIZER;
// Serialises every Enqueue against the set-up of broadcast_queue (its
// storage and binding change there).
pthread_mutex_t broadcast_queue_setup_mutex = PTHREAD_MUTEX_INITIALIZER;

// State of one run of the server thread.
struct Server_State {
    Fd_Holder uds_fd;
    Fd_Holder packet_epollfd;
    epoll_event packet_epoll_event[max_epoll_event_count] = {};
    List<int> client_list;         // connected clients, in order of arrival; no lock
    List<int> remove_client_list;  // clients whose broadcast write failed this pass
    sockaddr_un server = {};
    sockaddr_un client = {};

    // Connections still open when the thread ends are closed with it.
    ~Server_State()
    {
        for (unsigned int i = 0; i < client_list.get_Count(); i++)
            close(client_list[i]);
    }
};

uint8_t set_UDS_BMC_Packet_Write(int socket_fd, const BMC::Packet& packet)
{
    uint8_t ret = set_Packet_Write(socket_fd, packet);
    if (ret == 1) {
        log_line("[ERROR] %s: %s: packet header write error, 0x%X\n", __func__, __func__, socket_fd);
    } else if (ret == 2) {
        log_line("[ERROR] %s: %s: packet data write error, 0x%X\n", __func__, __func__, socket_fd);
    }
    return ret;
}

uint8_t get_UDS_BMC_Packet_Read(int socket_fd, BMC::Packet* packet)
{
    uint8_t ret = read_packet_within(socket_fd, packet, packet_arrival_window_ms);
    if (ret == 2) {
        log_line("[ERROR] %s: %s: packet header read error, 0x%X\n", __func__, __func__, socket_fd);
    } else if (ret == 3) {
        log_line("[ERROR] %s: %s: packet data read error, 0x%X\n", __func__, __func__, socket_fd);
    }
    return ret;
}

// Adds fd to the epoll instance for input and hang-up; epoll_ctl's result.
int set_epoll_add(int epollfd, int fd)
{
    epoll_event event;
    memset(&event, 0, sizeof event);
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.fd = fd;
    return epoll_ctl(epollfd, EPOLL_CTL_ADD, fd, &event);
}

// Frees every packet still queued (a new start drops what an earlier run
// left unsent), then gives the queue its storage and lock unless an earlier
// start already did. false when the storage could not be obtained.
bool set_broadcast_queue_setup()
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
bool set_server_setup(Server_State* s)
{
    s->client_list.init(max_client_count);
    s->remove_client_list.init(max_client_count);
    if (!set_broadcast_queue_setup() || s->client_list.get_Size() != max_client_count ||
        s->remove_client_list.get_Size() != max_client_count) {
        log_line("[ERROR] %s: %s: error\n", thread_name, thread_name);
        return false;
    }

    s->uds_fd.reset(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (s->uds_fd.get() < 0) {
        log_line("[ERROR] %s: %s: error\n", thread_name, thread_name);
        return false;
    }

    s->server.sun_family = AF_UNIX;
    size_t path_length = strlen(uds_socket_path);
    memcpy(s->server.sun_path, uds_socket_path, path_length + 1);
    unlink(s->server.sun_path);
    socklen_t address_length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_length);
    if (bind(s->uds_fd.get(), reinterpret_cast<sockaddr*>(&s->server), address_length) != 0) {
        log_line("[ERROR] %s: %s: bind() error\n", thread_name, thread_name);
        return false;
    }

    if (listen(s->uds_fd.get(), listen_backlog) != 0) {
        log_line("[ERROR] %s: %s listen() error\n", thread_name, thread_name);
        return false;
    }

    s->packet_epollfd.reset(epoll_create1(EPOLL_CLOEXEC));
    if (set_epoll_add(s->packet_epollfd.get(), s->uds_fd.get()) != 0) {
        log_line("[ERROR] %s: %s epoll_ctl() error\n", thread_name, thread_name);
        return false;
    }
    return true;
}

// Takes a connecting client into the list, or closes it when the list is full.
void set_client_accept(Server_State* s)
{
    socklen_t address_length = sizeof(sockaddr_un);
    int fd = accept4(s->uds_fd.get(), reinterpret_cast<sockaddr*>(&s->client), &address_length, SOCK_CLOEXEC);
    if (fd == -1) {
        log_line("[ERROR] %s: %s: accept() failed, return: 0x%02X\n", thread_name, thread_name, fd);
        return;
    }

    timeval timeout;
    timeout.tv_sec = 0;
    timeout.tv_usec = client_socket_timeout_us;
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

    if (s->client_list.set_Data_Add(fd, false) == 0) {
        set_epoll_add(s->packet_epollfd.get(), fd);
        return;
    }
    close(fd);
    log_line("[ERROR] %s: %s: MAX_Client!\n", thread_name, thread_name);
}

// Forgets a client: out of the list and the epoll instance, then closed.
void set_client_drop(Server_State* s, int fd)
{
    if (s->client_list.set_Remove_All(fd, false) != 0) {
        log_line("[ERROR] %s: %s: client_list.set_Remove_All() error\n", thread_name, thread_name);
    }
    epoll_ctl(s->packet_epollfd.get(), EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
}

// Reads one request from a client, hands it to the handlers and answers it
// when it asks for a response. Both records free their data when done.
void set_client_request(Server_State* s, int fd, uint32_t events)
{
    BMC::Packet receive_packet;
    BMC::Packet response_packet;
    bool socket_close_flag = false;

    uint8_t ret = get_UDS_BMC_Packet_Read(fd, &receive_packet);
    if (ret != 0) {
        // A peer that hung up is dropped quietly.
        if ((events & EPOLLRDHUP) == 0) {
            log_line("[ERROR] %s: %s: get_UDS_BMC_Packet_Read() error\n", thread_name, thread_name);
        }
        socket_close_flag = true;
    } else {
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
            set_UDS_BMC_Packet_Write(fd, response_packet) != 0) {
            log_line("[ERROR] %s: %s: set_UDS_BMC_Packet_Write() error\n", thread_name, thread_name);
            socket_close_flag = true;
        }
    }
    if (socket_close_flag)
        set_client_drop(s, fd);
}

// Sends at most one queued broadcast to every client; clients whose write
// failed are dropped after the pass.
void set_broadcast_pass(Server_State* s)
{
    // Dequeue into a valid pointer gives 1 only for an empty queue, the idle
    // case, so no separate peek at the count is needed.
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

    s->remove_client_list.set_Clear(false);
    for (uint16_t i = 0; i < s->client_list.get_Count(); i++) {
        int client_fd = s->client_list[i];
        if (set_UDS_BMC_Packet_Write(client_fd, *packet) != 0) {
            s->remove_client_list.set_Data_Add(client_fd, false);
            log_line("[ERROR] %s: %s: broadcast packet write error, fd: %d\n", thread_name, thread_name, client_fd);
        }
    }
    packet.reset();  // the record's destructor frees its data array first

    for (unsigned int i = 0; i < s->remove_client_list.get_Count(); i++) {
        set_client_drop(s, s->remove_client_list[i]);
    }
}

void set_server_loop(Server_State* s)
{
    while (!thread_stop_request_flag) {
        int count =
            epoll_wait(s->packet_epollfd.get(), s->packet_epoll_event, max_epoll_event_count, epoll_wait_timeout_ms);
        if (count == -1) {
            log_line("[ERROR] %s: %s: epoll_wait() error\n", thread_name, thread_name);
            usleep(poll_interval_us);
        } else if (count == 0) {
            set_broadcast_pass(s);
        } else {
            for (uint8_t i = 0; i < count; i++) {
                const epoll_event& event = s->packet_epoll_event[i];
                if (event.data.fd == s->uds_fd.get()) {
                    set_client_accept(s);
                } else {
                    set_client_request(s, event.data.fd, event.events);
                }
            }
        }
    }
}

void* UDS_BMC_Packet_Thread(void*)
{
    {
        Server_State state;
        if (set_server_setup(&state)) {
            thread_start_flag = true;
            set_server_loop(&state);
        }
        state.packet_epollfd.close_now();
        state.uds_fd.close_now();
        // Leaving the scope closes the remaining client connections.
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
    if (ret == 0 || ret > 3)
        copy.release();
    if (ret == 0)
        return 0;

    log_line("[ERROR] %s: %s: broadcast queue enqueue error: %d\n", __func__, __func__, ret);
    return ret;
}
