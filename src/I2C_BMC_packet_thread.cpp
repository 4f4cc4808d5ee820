// The BMC I2C packet link: worker thread, transmit and receive queues and
// the blocking request call. The link carries bytes only: what a packet
// from the BMC asks for is carried out by the dispatcher (link_dispatch).
//
// Threads: the worker does every bus transfer, every dispatch and every
// error callback; any other thread may call the request call. They share
// the two queues only: TX_queue is guarded by TX_queue_mutex through its
// lock-control handler; every access to RX_queue is made with RX_queue_mutex
// held, and RX_queue_condition is signalled after each response queued. The
// two mutexes are never held together. The run flags are atomics: they are
// the hand-over points between the start, stop and request calls and the
// worker, which the request and stop calls wake through its eventfd.
#include "I2C_BMC_packet_thread.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "I2C_BMC_frame.h"
#include "attention_line.h"
#include "fd_holder.h"
#include "i2c_smbus.h"
#include "link_dispatch.h"
#include "log_line.h"
#include "mutex_lock_handler.h"
#include "platform_paths.h"
#include "queue.h"

namespace {

const unsigned int queue_size = 200;            // slots in each queue
const uint8_t packet_rx_timeout_value_sec = 3;  // a requester's wait, from the current whole second
const char* const i2c_node_path = NK_PLATFORM_PATH(BMC_I2C_BUS_PATH);
const useconds_t start_poll_period_us = 10 * 1000;
const unsigned char error_code_write_failed = 1;

// Between the end of one bus transaction (and the dispatch of what it read)
// and the start of the next: the pacing a BMC may rely on.
constexpr std::chrono::milliseconds bus_gap{20};

Queue<BMC::Packet*> TX_queue;
Queue<BMC::Packet*> RX_queue;
// Statically initialised once: a requester may still wait on them while the
// link stops and starts again.
pthread_mutex_t TX_queue_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t RX_queue_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t RX_queue_condition = PTHREAD_COND_INITIALIZER;

pthread_t thread;
std::atomic<bool> thread_start_flag{false};         // set-up done, loop not left
std::atomic<bool> thread_stop_request_flag{false};  // the stop call asks the worker to leave
std::atomic<uint64_t> loop_count{0};                // iterations of the worker's loop that read the line
std::atomic<bool> thread_end_flag{false};           // the worker has finished (start call's view)
int (*BMC_Packet_Receive_Error_Handler)(BMC::Packet*, unsigned char) = nullptr;

// The worker's eventfd while it runs, else -1. The request and stop calls
// signal it under wake_mutex, so that no signal reaches a descriptor number
// that the worker has closed and the process has handed out again.
std::mutex wake_mutex;
int wake_fd = -1;

typedef std::unique_ptr<BMC::Packet> Packet_Holder;

// Writes that failed in a row (worker only): an outage of the bus or the BMC
// is logged when it starts and when writes succeed again, not per write.
unsigned failed_writes_in_row = 0;
// The failure the error callback is called for, while it runs.
thread_local Link_Write_Failure current_write_failure;

// Wakes the worker from its wait (no effect while it is not running).
void signal_link_wake()
{
    std::lock_guard<std::mutex> lock(wake_mutex);
    if (wake_fd >= 0) {
        const uint64_t one = 1;
        (void)!write(wake_fd, &one, sizeof one);
    }
}

void set_link_wake_fd(int fd)
{
    std::lock_guard<std::mutex> lock(wake_mutex);
    wake_fd = fd;
}

// Takes the pending wake-ups of the eventfd (the worker looks at its queue
// and line after every wait, so their number does not matter).
void clear_link_wake(int event_fd)
{
    uint64_t count = 0;
    (void)!read(event_fd, &count, sizeof count);
}

enum class I2C_Direction : uint8_t { READ, WRITE };

// One transaction with a slave: selects it (the select's own result is not
// looked at, a failed select shows in the transfer) and moves count bytes
// in one read or write. Returns what read or write returned.
ssize_t set_i2c_transaction(int i2c_fd, uint8_t address, I2C_Direction direction, uint8_t* buffer, size_t count)
{
    (void)select_i2c_slave(i2c_fd, address);
    if (direction == I2C_Direction::READ) {
        return read(i2c_fd, buffer, count);
    }
    return write(i2c_fd, buffer, count);
}

// Reads one frame from the BMC into *packet. A failed or short read is not
// detected: the frame is taken from the zero-cleared buffer as it stands.
void set_I2C_Packet_Read(int i2c_fd, uint8_t address, BMC::Packet* packet)
{
    uint8_t frame[i2c_frame_size] = {};
    set_i2c_transaction(i2c_fd, address, I2C_Direction::READ, frame, sizeof frame);
    get_i2c_frame_packet(frame, packet);
}

// Writes the packet's byte image in one write. Returns true when the write
// failed (nothing written); a short write counts as done. The first failure
// of an outage is logged, and the first success after it with the count.
bool set_I2C_Packet_Write(int i2c_fd, uint8_t address, const BMC::Packet& packet)
{
    uint8_t buffer[i2c_packet_buffer_size];
    const size_t length = get_i2c_packet_frame(packet, buffer);
    const ssize_t written = set_i2c_transaction(i2c_fd, address, I2C_Direction::WRITE, buffer, length);
    if (written <= 0) {
        const int error = errno;
        if (failed_writes_in_row++ == 0) {
            // The described line carries the system's error already: the device follows.
            log_line("[ERROR] %s: packet write failed, %d, %s: %s\n", "set_I2C_Packet_Write", static_cast<int>(written),
                     strerror(error), i2c_node_path);
        }
        return true;
    }
    if (failed_writes_in_row > 0) {
        log_line("[INFO] %s: packet writes succeed again after %u failed\n", "set_I2C_Packet_Write",
                 failed_writes_in_row);
        failed_writes_in_row = 0;
    }
    return false;
}

// Calls the error callback for the request whose write failed; the callback
// can ask get_link_write_failure() which one it was.
void report_write_failure(const BMC::Packet& request, BMC::Packet* response)
{
    current_write_failure = Link_Write_Failure{&request, failed_writes_in_row};
    BMC_Packet_Receive_Error_Handler(response, error_code_write_failed);
    current_write_failure = Link_Write_Failure{};
}

// Hands a response to the waiting requesters; a full queue refuses it and it
// is freed.
void set_rx_response(Packet_Holder response)
{
    pthread_mutex_lock(&RX_queue_mutex);
    if (RX_queue.Enqueue(response.get()) == 0) {
        response.release();  // now the queue's
    }
    pthread_cond_signal(&RX_queue_condition);
    pthread_mutex_unlock(&RX_queue_mutex);
}

// Receives one packet from the BMC and carries it out.
void set_receive_packet(int i2c_fd)
{
    BMC::Packet packet;  // its data array goes with it after the dispatch
    set_I2C_Packet_Read(i2c_fd, bmc_i2c_slave_address, &packet);
    I2C_BMC_Packet_Hander(&packet);
}

// Writes the next queued packet, if any, and answers it when it asks for a
// response. False when nothing was waiting (the bus was not used).
bool set_transmit_packet(int i2c_fd)
{
    BMC::Packet* dequeued = nullptr;
    if (TX_queue.Dequeue(&dequeued) != 0) {
        return false;
    }
    Packet_Holder request_packet(dequeued);
    Packet_Holder response_packet(new BMC::Packet());

    const bool error_flag = set_I2C_Packet_Write(i2c_fd, bmc_i2c_slave_address, *request_packet);
    if (error_flag) {
        report_write_failure(*request_packet, response_packet.get());
    }
    if (!BMC::get_Packet_Response_Require_Flag(*request_packet)) {
        return true;
    }
    BMC::init_Packet(response_packet.get(), BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::PING_RESPONSE, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
    if (error_flag) {
        report_write_failure(*request_packet, response_packet.get());
    }
    set_rx_response(std::move(response_packet));
    return true;
}

// Frees every packet the queue holds. lock_mutex, when given, is taken
// around the whole drain (for RX_queue, which has no handler of its own).
void set_queue_drain(Queue<BMC::Packet*>& queue, pthread_mutex_t* lock_mutex)
{
    if (lock_mutex != nullptr) {
        pthread_mutex_lock(lock_mutex);
    }
    BMC::Packet* packet = nullptr;
    while (queue.Dequeue(&packet) == 0) {
        Packet_Holder freed(packet);
    }
    if (lock_mutex != nullptr) {
        pthread_mutex_unlock(lock_mutex);
    }
}

// Sizes both queues afresh, freeing what an earlier run left in them.
void init_queues()
{
    set_queue_drain(TX_queue, nullptr);  // its handler, when bound, locks
    set_queue_drain(RX_queue, &RX_queue_mutex);
    pthread_mutex_lock(&TX_queue_mutex);
    TX_queue.init(queue_size);
    TX_queue.set_Lock_Control_Handler(set_Mutex_Lock, &TX_queue_mutex);
    pthread_mutex_unlock(&TX_queue_mutex);
    pthread_mutex_lock(&RX_queue_mutex);
    RX_queue.init(queue_size);
    pthread_mutex_unlock(&RX_queue_mutex);
}

// Registers fd with the epoll instance for events; false when it cannot.
bool add_epoll_source(int epoll_fd, int fd, uint32_t events)
{
    struct epoll_event event = {};
    event.events = events;
    event.data.fd = fd;
    return epoll_ctl(epoll_fd, EPOLL_CTL_ADD, fd, &event) == 0;
}

// Keeps the bus idle until `bus_free`; a stop request ends the wait at once.
void wait_for_bus_gap(int event_fd, Link_Clock::time_point bus_free)
{
    while (!thread_stop_request_flag) {
        const auto remaining = bus_free - Link_Clock::now();
        if (remaining <= Link_Clock::duration::zero()) {
            return;
        }
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(remaining).count();
        const struct timespec timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        struct pollfd wake = {event_fd, POLLIN, 0};
        if (ppoll(&wake, 1, &timeout, nullptr) > 0) {
            clear_link_wake(event_fd);  // a request: its packet goes after the gap
        }
    }
}

// Sleeps until the line signals an edge, a request or the stop call wakes
// the worker, or timeout_ms pass.
void wait_for_work(int epoll_fd, int event_fd, int timeout_ms)
{
    struct epoll_event events[2];
    const int count = epoll_wait(epoll_fd, events, 2, timeout_ms);
    for (int i = 0; i < count; ++i) {
        if (events[i].data.fd == event_fd) {
            clear_link_wake(event_fd);
        }
    }
}

// The worker's loop, one iteration per look at the line: a frame from the
// BMC while the line is low, else one queued packet, else a wait until the
// line falls or a packet is queued (choose_idle_wait_ms at most). At most one
// packet moves per iteration, a pending receive goes first, and bus_gap
// separates one transaction from the next. While the line is lost the BMC is
// not read; queued packets still go out, and the line is set up again about
// once a second.
void run_link_loop(Attention_Line& line, int event_fd, int i2c_fd)
{
    Link_Clock::time_point bus_free = Link_Clock::now();
    while (!thread_stop_request_flag) {
        wait_for_bus_gap(event_fd, bus_free);
        if (thread_stop_request_flag) {
            break;
        }
        const Link_Clock::time_point now = Link_Clock::now();
        recover_attention_line(line, now);
        const Line_Level level = read_attention_line(line, now);
        if (level != Line_Level::LOST) {
            loop_count.fetch_add(1, std::memory_order_relaxed);
        }
        if (level == Line_Level::LOW) {
            set_receive_packet(i2c_fd);
            bus_free = Link_Clock::now() + bus_gap;
        } else if (set_transmit_packet(i2c_fd)) {
            bus_free = Link_Clock::now() + bus_gap;
        } else {
            wait_for_work(line.epoll_fd, event_fd, choose_idle_wait_ms(line, now));
        }
    }
}

void* I2C_BMC_Packet_Thread(void*)
{
    Fd_Holder epoll_fd(epoll_create1(EPOLL_CLOEXEC));
    Fd_Holder event_fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!add_epoll_source(epoll_fd.get(), event_fd.get(), EPOLLIN)) {
        log_line("[ERROR] %s: epoll_ctl() error: eventfd: %s\n", "I2C_BMC_Packet_Thread", strerror(errno));
        thread_end_flag = true;
        return nullptr;
    }
    Attention_Line line;
    if (!open_attention_line(line, epoll_fd.get())) {
        thread_end_flag = true;
        return nullptr;
    }
    Fd_Holder i2c_fd(open(i2c_node_path, O_RDWR | O_CLOEXEC));
    if (i2c_fd.get() < 0) {
        log_line("[ERROR] %s: open() error: %s: %s\n", "I2C_BMC_Packet_Thread", i2c_node_path, strerror(errno));
        thread_end_flag = true;
        return nullptr;
    }
    init_queues();
    failed_writes_in_row = 0;
    set_link_wake_fd(event_fd.get());
    thread_start_flag = true;

    run_link_loop(line, event_fd.get(), i2c_fd.get());

    set_link_wake_fd(-1);  // before the eventfd closes
    thread_stop_request_flag = false;
    thread_start_flag = false;
    // Nothing is sent after a stop: what is still queued is freed.
    set_queue_drain(TX_queue, nullptr);
    set_queue_drain(RX_queue, &RX_queue_mutex);
    thread_end_flag = true;
    return nullptr;
}

void set_error_response(BMC::Packet* response, BMC::NODE_ID node_id)
{
    BMC::init_Packet(response, node_id, false, BMC::PACKET_TYPE::ERROR, false, BMC::ADDRESS::DESCRIPTION, 0,
                     BMC::DATA_TYPE::UINT8, nullptr, 0);
}

}  // namespace

int init_I2C_BMC_Packet_Thread(int (*broadcast_packet_handler)(const BMC::Packet&),
                               int (*packet_receive_error_handler)(BMC::Packet*, unsigned char))
{
    (void)broadcast_packet_handler;
    if (packet_receive_error_handler == nullptr) {
        return 1;
    }
    if (thread_start_flag) {
        return 2;
    }
    thread_start_flag = false;
    BMC_Packet_Receive_Error_Handler = packet_receive_error_handler;
    thread_stop_request_flag = false;
    thread_end_flag = false;
    if (pthread_create(&thread, nullptr, I2C_BMC_Packet_Thread, nullptr) != 0) {
        return 3;
    }
    while (!thread_start_flag) {
        if (thread_end_flag) {
            pthread_join(thread, nullptr);  // ended in its set-up
            return 3;
        }
        usleep(start_poll_period_us);
    }
    return 0;
}

void set_I2C_BMC_Packet_Thread_Stop()
{
    if (!thread_start_flag) {
        return;
    }
    thread_stop_request_flag = true;
    signal_link_wake();
    pthread_join(thread, nullptr);
}

uint64_t get_link_loop_count() { return loop_count.load(std::memory_order_relaxed); }

Link_Write_Failure get_link_write_failure() { return current_write_failure; }

bool get_I2C_BMC_Packet_Thread_Start_Flag() { return thread_start_flag; }

struct timespec compute_request_deadline(const struct timeval& now)
{
    // The sub-second part is dropped.
    struct timespec deadline;
    deadline.tv_sec = now.tv_sec + packet_rx_timeout_value_sec;
    deadline.tv_nsec = 0;
    return deadline;
}

uint8_t set_I2C_BMC_Packet_Request(const BMC::Packet& request, BMC::Packet* response)
{
    if (!thread_start_flag) {
        return 1;
    }
    if (response == nullptr) {
        return 2;
    }
    // Read from the caller's packet: the copy may be sent and freed at once.
    const bool response_require = BMC::get_Packet_Response_Require_Flag(request);
    const BMC::NODE_ID node_id = BMC::get_Packet_Node_ID(request);

    Packet_Holder tmp_request(new BMC::Packet());
    BMC::init_Packet(tmp_request.get(), request);
    if (TX_queue.Enqueue(tmp_request.get()) != 0) {
        if (response_require) {
            set_error_response(response, node_id);
        }
        return 3;  // the copy is freed here
    }
    tmp_request.release();  // now the queue's, then the worker's
    signal_link_wake();
    if (!response_require) {
        return 0;
    }

    struct timeval now;
    gettimeofday(&now, nullptr);
    const struct timespec deadline = compute_request_deadline(now);

    pthread_mutex_lock(&RX_queue_mutex);
    bool timed_out = false;
    while (RX_queue.get_Count() == 0 && !timed_out) {
        // Any failure of the wait ends it as a time-out.
        timed_out = pthread_cond_timedwait(&RX_queue_condition, &RX_queue_mutex, &deadline) != 0;
    }
    BMC::Packet* received = nullptr;
    if (!timed_out && RX_queue.Dequeue(&received) == 0) {
        const Packet_Holder response_copy(received);
        BMC::init_Packet(response, *response_copy);
    } else {
        set_error_response(response, node_id);
    }
    pthread_mutex_unlock(&RX_queue_mutex);
    return 0;
}
