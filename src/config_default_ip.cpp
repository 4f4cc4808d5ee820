// Module config: tracking of the default-route IPv4 address.
//
// The main loop calls update_Config_Default_IP_Address() every pass; the
// status reporting then reads the change flag and, when it was raised, the
// address. All three run on the main thread, so the state has no lock.
#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config_internal.h"
#include "platform_paths.h"
#include "log_line.h"

namespace {

const char* const route_table_path = NK_PLATFORM_PATH("/proc/net/route");
const char* const route_header_mark = "Destination";
// Any all-zero address field (destination, gateway or mask) marks the line.
const char* const route_zero_field = "00000000";
const char* const no_address = "0.0.0.0";

std::string ip_address = no_address;
bool ip_address_update_flag = false;

// IPv4 address of an interface in dotted notation; "0.0.0.0" when the
// interface does not exist, has no IPv4 address or the request fails.
// The request's answer is read even when it failed: its address then stays
// zero, which is the text wanted.
std::string get_Interface_Address(const char* if_name)
{
    struct ifreq request;
    memset(&request, 0, sizeof request);
    // At most IFNAMSIZ - 1 (15) characters; the zeroed tail terminates it.
    strncpy(request.ifr_name, if_name, IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;

    const int sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sock >= 0) {
        (void)ioctl(sock, SIOCGIFADDR, &request);
        close(sock);
    }

    struct sockaddr_in addr;
    memcpy(&addr, &request.ifr_addr, sizeof addr);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text) == nullptr) {
        return no_address;
    }
    return text;
}

}  // namespace

bool parse_route_interface(const char* line, std::string& if_name)
{
    if (strstr(line, route_header_mark) != nullptr || strstr(line, route_zero_field) == nullptr) {
        return false;
    }
    if_name.assign(line, strcspn(line, "\t\n"));
    return true;
}

bool update_default_ip_address(const char* route_table)
{
    FILE* table = fopen(route_table, "re");
    if (table == nullptr) {
        return false;
    }

    std::string candidate = no_address;
    char* line = nullptr;
    size_t line_capacity = 0;
    std::string if_name;
    while (getline(&line, &line_capacity, table) != -1) {
        if (parse_route_interface(line, if_name)) {
            candidate = get_Interface_Address(if_name.c_str());
            break;
        }
    }
    free(line);
    fclose(table);

    if (candidate == ip_address) {
        return false;
    }
    ip_address = candidate;
    ip_address_update_flag = true;
    log_line("[INFO] %s: Default IP: %s\n", "update_Config_Default_IP_Address", ip_address.c_str());
    return true;
}

bool update_Config_Default_IP_Address() { return update_default_ip_address(route_table_path); }

bool get_Config_Default_IP_Address_Update_Flag()
{
    const bool raised = ip_address_update_flag;
    ip_address_update_flag = false;
    return raised;
}

int get_Config_Default_IP_Address(char* buffer, unsigned int buffer_length)
{
    if (buffer == nullptr || buffer_length == 0) {
        return 0;
    }
    strncpy(buffer, ip_address.c_str(), buffer_length);
    // A text that does not fit is cut, never left unterminated.
    buffer[buffer_length - 1] = '\0';
    return static_cast<int>(strlen(buffer));
}
