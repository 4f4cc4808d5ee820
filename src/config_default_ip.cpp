// Module config: tracking of the default-route IPv4 address.
//
// The main loop calls update_Config_Default_IP_Address() every pass; the
// status reporting then reads the change flag and, when it was raised, the
// address. All three run on the main thread, so the state has no lock.
#include <arpa/inet.h>
#include <errno.h>
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
#include "fd_holder.h"
#include "log_line.h"
#include "platform_paths.h"

namespace {

const char* const route_header_mark = "Destination";
// Any all-zero address field (destination, gateway or mask) marks the line.
const char* const route_zero_field = "00000000";
const char* const no_address = "0.0.0.0";

std::string ip_address = no_address;
bool ip_address_update_flag = false;

}  // namespace

int find_interface_address(const char* if_name, std::string& address)
{
    struct ifreq request;
    memset(&request, 0, sizeof request);
    // At most IFNAMSIZ - 1 (15) characters; the zeroed tail terminates it.
    strncpy(request.ifr_name, if_name, IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;

    // The request's answer is read even when it failed: its address then
    // stays zero, which is the text wanted.
    int error = 0;
    const Fd_Holder sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0 || ioctl(sock.get(), SIOCGIFADDR, &request) < 0) {
        error = errno;
    }

    struct sockaddr_in addr;
    memcpy(&addr, &request.ifr_addr, sizeof addr);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text) == nullptr) {
        address = no_address;
        return errno;
    }
    address = text;
    return error;
}

bool parse_route_interface(const char* line, std::string& if_name)
{
    if (strstr(line, route_header_mark) != nullptr || strstr(line, route_zero_field) == nullptr) {
        return false;
    }
    if_name.assign(line, strcspn(line, "\t\n"));
    return true;
}

Route_Lookup find_default_route(const char* route_table, std::string& if_name)
{
    FILE* table = fopen(route_table, "re");
    if (table == nullptr) {
        return Route_Lookup::UNREADABLE;
    }
    Route_Lookup result = Route_Lookup::NO_ROUTE;
    char* line = nullptr;
    size_t line_capacity = 0;
    while (getline(&line, &line_capacity, table) != -1) {
        if (parse_route_interface(line, if_name)) {
            result = Route_Lookup::FOUND;
            break;
        }
    }
    free(line);
    fclose(table);
    return result;
}

bool update_default_ip_address(const char* route_table)
{
    std::string if_name;
    std::string candidate = no_address;
    switch (find_default_route(route_table, if_name)) {
    case Route_Lookup::UNREADABLE:
        return false;
    case Route_Lookup::FOUND:
        (void)find_interface_address(if_name.c_str(), candidate);
        break;
    case Route_Lookup::NO_ROUTE:
        break;
    }

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
