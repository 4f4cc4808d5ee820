// Client processes of the socket server benchmark, forked from it so that
// their work is not the benchmark thread's: a reader that holds many
// connections and reports when a broadcast has reached all of them, and a
// load of clients that dribble their requests or never read.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Byte image of a WRITE request of the given total length (5..255) that
// asks for a response; the data bytes count up.
std::vector<uint8_t> get_request_bytes(size_t length);
// A connected stream socket to the server at path, -1 when none; flags
// (SOCK_NONBLOCK) as for socket().
int connect_to_server(const std::string& path, int flags = 0);
bool write_all(int fd, const uint8_t* bytes, size_t length);
// Reads length bytes; false on end of stream, failure or timeout_ms without
// progress (-1: no limit).
bool read_all(int fd, uint8_t* bytes, size_t length, int timeout_ms = -1);
// CLOCK_MONOTONIC in nanoseconds: the same clock in every process.
uint64_t read_monotonic_ns();

// A forked process running body(control, report); the parent keeps the
// other ends. Closing the control end asks the child to end; the holder
// kills and reaps it in any case.
class Peer_Process {
public:
    Peer_Process() = default;
    ~Peer_Process();
    Peer_Process(const Peer_Process&) = delete;
    Peer_Process& operator=(const Peer_Process&) = delete;

    bool start(const std::function<int(int control_fd, int report_fd)>& body);
    int report_fd() const { return report_fd_; }

private:
    pid_t pid_ = -1;
    int control_fd_ = -1;
    int report_fd_ = -1;
};

// Number of the broadcasts the reader recognises: a WRITE carrying the
// broadcast flag and a 32-bit sequence number as its data.
const size_t fan_out_packet_length = 9;

// Holds count connections to the server; when requesting, one of them sends
// a request every 10 ms (and reads its responses with the rest).
class Fan_Out_Reader {
public:
    bool start(const std::string& path, int count, bool requesting);
    // When (read_monotonic_ns) the last connection received broadcast
    // sequence; 0 when that did not happen within timeout_ms.
    uint64_t wait_for_delivery(uint32_t sequence, int timeout_ms);

private:
    Peer_Process process_;
};

// dribblers connections that send a 255-byte request one byte every 15 ms,
// and one that sends requests asking for responses and never reads; each
// connects again when the server drops it.
class Client_Load {
public:
    bool start(const std::string& path, int dribblers);

private:
    Peer_Process process_;
};
