// ruvo-packet-client <socket-path> [fields] [--time SECONDS]
//
// Connects to a local socket packet server, sends one request built from the
// command line, then prints every packet that arrives (the response and any
// broadcasts), decoded, for the given time or until interrupted.
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BMC_data_protocol_read_write.h"
#include "UDS_BMC_packet_thread.h"
#include "fd_holder.h"
#include "packet_text.h"
#include "program_signals.h"

namespace {

void print_usage()
{
    fprintf(stderr, "usage: ruvo-packet-client <socket-path> [options]\n"
                    "  --node N          node id, 0..127 (default 0, the BMC)\n"
                    "  --type T          error, ping, ping_response, read, read_response, write,\n"
                    "                    write_response or 0..6 (default read)\n"
                    "  --address A       description, hotswap, power, psu, fan, status, bridge1..8,\n"
                    "                    network, boot or 0..15 (default description)\n"
                    "  --subaddress S    0..255 (default 0)\n"
                    "  --response        ask for a response\n"
                    "  --text TEXT       data: a string (sent with its NUL)\n"
                    "  --hex BYTES       data: hex bytes, e.g. \"01 a0 ff\"\n"
                    "  --time SECONDS    how long to print what arrives (default 2; 0 until interrupted)\n");
}

// Parses the options into fields and the listening time; false on a bad one.
bool get_options(int argc, char** argv, packet_text::Request_Fields* fields, double* seconds)
{
    const option options[] = {{"node", required_argument, nullptr, 'n'},
                              {"type", required_argument, nullptr, 't'},
                              {"address", required_argument, nullptr, 'a'},
                              {"subaddress", required_argument, nullptr, 's'},
                              {"response", no_argument, nullptr, 'r'},
                              {"text", required_argument, nullptr, 'x'},
                              {"hex", required_argument, nullptr, 'H'},
                              {"time", required_argument, nullptr, 'T'},
                              {nullptr, 0, nullptr, 0}};
    for (int c; (c = getopt_long(argc, argv, "n:t:a:s:rx:H:T:", options, nullptr)) != -1;) {
        unsigned int number = 0;
        char* end = nullptr;
        bool ok = true;
        switch (c) {
        case 'n':
            ok = packet_text::get_number(optarg, BMC::PACKET_NODE_ID_MASK, &number);
            fields->node = static_cast<uint8_t>(number);
            break;
        case 't':
            ok = packet_text::get_type(optarg, &fields->type);
            break;
        case 'a':
            ok = packet_text::get_address(optarg, &fields->address);
            break;
        case 's':
            ok = packet_text::get_number(optarg, 255, &number);
            fields->subaddress = static_cast<uint8_t>(number);
            break;
        case 'r':
            fields->response_require = true;
            break;
        case 'x':
            fields->has_text = true;
            fields->text = optarg;
            break;
        case 'H':
            fields->has_text = false;
            ok = packet_text::get_hex_bytes(optarg, &fields->bytes);
            break;
        case 'T':
            ok = (*seconds = strtod(optarg, &end)) >= 0 && *end == '\0';
            break;
        default:
            ok = false;
        }
        if (!ok)
            return false;
    }
    return optind + 1 == argc;
}

// Connects the stream socket fd to the server at path; false (errno set)
// when it cannot.
bool set_connection(int fd, const char* path)
{
    if (strlen(path) > uds_socket_path_max_length) {
        errno = ENAMETOOLONG;
        return false;
    }
    sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path, strlen(path) + 1);
    // A packet that starts arriving is complete within a second, or dropped.
    timeval timeout{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

double get_now()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// Prints arriving packets until the time is up, the server closes or a stop.
// 0 normal end; 1 the connection broke.
int set_receive_loop(int fd, double seconds)
{
    double deadline = get_now() + seconds;
    while (!program_stop_requested) {
        int wait_ms = -1;
        if (seconds > 0) {
            double left = deadline - get_now();
            if (left <= 0)
                return 0;
            wait_ms = static_cast<int>(left * 1000) + 1;
        }
        pollfd entry{fd, POLLIN, 0};
        int ready = poll(&entry, 1, wait_ms);
        if (ready <= 0)
            continue;  // time-out or interrupted: the loop checks both
        BMC::Packet packet;
        uint8_t ret = get_Packet_Read(fd, &packet);
        if (ret == 1) {
            printf("connection closed by the server\n");
            return 0;
        }
        if (ret != 0) {
            fprintf(stderr, "ruvo-packet-client: incomplete packet (read code %u)\n", ret);
            return 1;
        }
        printf("%s: %s\n", BMC::get_Packet_Broadcast(packet) ? "broadcast" : "received",
               packet_text::get_packet_line(packet).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    packet_text::Request_Fields fields;
    double seconds = 2.0;
    if (!get_options(argc, argv, &fields, &seconds)) {
        print_usage();
        return 2;
    }
    BMC::Packet request;
    std::string error;
    if (!packet_text::set_request_packet(fields, &request, &error)) {
        fprintf(stderr, "ruvo-packet-client: %s\n", error.c_str());
        return 2;
    }

    set_program_signals();

    const char* path = argv[argc - 1];
    const Fd_Holder connection(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int fd = connection.get();
    if (fd < 0 || !set_connection(fd, path)) {
        fprintf(stderr, "ruvo-packet-client: cannot connect to %s: %s\n", path, strerror(errno));
        return 1;
    }
    int result = 0;
    if (set_Packet_Write(fd, request) != 0) {
        fprintf(stderr, "ruvo-packet-client: sending the request failed: %s\n", strerror(errno));
        result = 1;
    } else {
        printf("sent: %s\n", packet_text::get_packet_line(request).c_str());
        result = set_receive_loop(fd, seconds);
    }
    return result;
}
