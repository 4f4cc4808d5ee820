// Test side of the local socket packet server: a client connection, request
// builders, and a fixture that runs the server in a fresh temporary folder
// with standard output captured.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <atomic>
#include <functional>
#include <string>

#include "BMC_data_protocol.h"
#include "test_env.h"

namespace uds_test {

// One client connection; reads give up after receive_timeout_ms.
class Client {
public:
    static const int receive_timeout_ms = 1000;

    explicit Client(const std::string& path);
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    bool send(const BMC::Packet& packet);
    bool send_bytes(const void* bytes, size_t length);
    // 0 a packet arrived (get_Packet_Read's codes otherwise).
    uint8_t receive(BMC::Packet* packet);
    // True when something (data or end of stream) arrives within ms.
    bool readable_within(int ms);
    // True when the server has closed the connection (end of stream).
    bool closed_by_server();
    void set_close();

private:
    int fd_ = -1;
};

// A READ/WRITE style request with a string payload.
void set_request(BMC::Packet* packet, BMC::PACKET_TYPE type, bool response_require, uint8_t subaddress,
                 const char* text, BMC::NODE_ID node = BMC::NODE_ID::NAREL_3);

// Number of descriptors open in this process.
int get_open_fd_count();

// Leaves a socket file at path that nobody listens on, as a server that
// ended leaves it.
void make_abandoned_socket(const std::string& path);

// Context switches of a thread of this process so far (voluntary and not).
long read_thread_switches(pid_t thread_id);

// A forked child that runs body and exits with its result; killed when it
// outlives a wait or its holder.
class Child {
public:
    explicit Child(const std::function<int()>& body);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    pid_t pid() const { return pid_; }
    // The child's exit status once it ends within deadline_ms; -1 when it
    // did not (it is killed then) or did not exit normally.
    int wait_for_exit(int deadline_ms);

private:
    pid_t pid_ = -1;
};

// Subaddress for which the test handler fails; it still fills the response.
const uint8_t failing_subaddress = 0xEE;
// Subaddress the error handler writes into the response it is given.
const uint8_t error_handler_subaddress = 0xEF;

// Echoes the request as a WRITE_RESPONSE with the same data; fails for
// failing_subaddress.
int echo_handler(const BMC::Packet& request, BMC::Packet* response);
// Records its call and marks the response with error_handler_subaddress.
int error_handler(BMC::Packet* response, uint8_t code);
extern std::atomic<int> error_handler_calls;
extern std::atomic<int> error_handler_last_code;

// Fresh folder, SIGPIPE ignored, standard output captured; the server is
// stopped when the test ends.
class ServerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string socket_path() const { return dir_.file("uds.sock"); }
    int start(bool with_error_handler = true);
    // Stops the server and returns everything written to standard output.
    std::string stop_and_log();

    nk_test::TempDir dir_;

private:
    bool capturing_ = false;
};

}  // namespace uds_test
