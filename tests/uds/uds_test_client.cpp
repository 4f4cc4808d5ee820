#include "uds_test_client.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "BMC_data_protocol_read_write.h"
#include "UDS_BMC_packet_thread.h"

namespace uds_test {

std::atomic<int> error_handler_calls{0};
std::atomic<int> error_handler_last_code{-1};

Client::Client(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    timeval timeout{receive_timeout_ms / 1000, (receive_timeout_ms % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return;
    }
    fd_ = fd;
}

Client::~Client() { set_close(); }

void Client::set_close()
{
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool Client::send(const BMC::Packet& packet) { return set_Packet_Write(fd_, packet) == 0; }

bool Client::send_bytes(const void* bytes, size_t length)
{
    return write(fd_, bytes, length) == static_cast<ssize_t>(length);
}

uint8_t Client::receive(BMC::Packet* packet) { return get_Packet_Read(fd_, packet); }

bool Client::readable_within(int ms)
{
    pollfd entry{fd_, POLLIN, 0};
    return poll(&entry, 1, ms) == 1;
}

bool Client::closed_by_server()
{
    char byte;
    return read(fd_, &byte, 1) == 0;
}

void set_request(BMC::Packet* packet, BMC::PACKET_TYPE type, bool response_require, uint8_t subaddress,
                 const char* text, BMC::NODE_ID node)
{
    BMC::init_Packet(packet, node, false, type, response_require, BMC::ADDRESS::DESCRIPTION, subaddress,
                     BMC::DATA_TYPE::STRING, text, text ? strlen(text) + 1 : 0);
}

int get_open_fd_count()
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (readdir(dir) != nullptr)
        count++;
    closedir(dir);
    return count - 3;  // ".", ".." and the directory's own descriptor
}

void make_abandoned_socket(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

long read_thread_switches(pid_t thread_id)
{
    std::ifstream status("/proc/self/task/" + std::to_string(thread_id) + "/status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
        if (line.find("ctxt_switches:") != std::string::npos)
            total += std::stol(line.substr(line.find(':') + 1));
    }
    return total;
}

Child::Child(const std::function<int()>& body)
{
    fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0)
        _exit(body());
}

Child::~Child()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

int Child::wait_for_exit(int deadline_ms)
{
    for (int waited = 0; pid_ > 0; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (waited >= deadline_ms)
            break;
        usleep(10000);
    }
    return -1;  // the destructor kills it
}

int echo_handler(const BMC::Packet& request, BMC::Packet* response)
{
    BMC::init_Packet(response, request);
    BMC::set_Packet_Type(response, BMC::PACKET_TYPE::WRITE_RESPONSE, false);
    if (BMC::get_Packet_Data_Count(request) > 0) {
        BMC::set_Packet_Data(response, BMC::get_Packet_Data_Type(request), request.data,
                             BMC::get_Packet_Data_Count(request));
    }
    return BMC::get_Packet_Subaddress(request) == failing_subaddress ? 1 : 0;
}

int error_handler(BMC::Packet* response, uint8_t code)
{
    error_handler_calls++;
    error_handler_last_code = code;
    BMC::set_Packet_Subaddress(response, error_handler_subaddress);
    return 0;
}

void ServerTest::SetUp()
{
    error_handler_calls = 0;
    error_handler_last_code = -1;
    signal(SIGPIPE, SIG_IGN);
    fflush(stdout);
    testing::internal::CaptureStdout();
    capturing_ = true;
}

void ServerTest::TearDown()
{
    set_UDS_BMC_Packet_Thread_Stop();
    if (capturing_) {
        // GoogleTest's own failure messages went into the capture as well.
        std::string captured = testing::internal::GetCapturedStdout();
        if (HasFailure())
            fputs(captured.c_str(), stderr);
    }
    capturing_ = false;
}

int ServerTest::start(bool with_error_handler)
{
    return init_UDS_BMC_Packet_Thread(echo_handler, with_error_handler ? error_handler : nullptr,
                                      socket_path().c_str());
}

std::string ServerTest::stop_and_log()
{
    set_UDS_BMC_Packet_Thread_Stop();
    fflush(stdout);
    capturing_ = false;
    return testing::internal::GetCapturedStdout();
}

}  // namespace uds_test
