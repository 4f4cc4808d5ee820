// The network commands of the BMC, run on the BMC link thread one packet at
// a time: addressing mode, address, gateway, netmask, name servers, apply,
// host name. Texts from the BMC are checked before they reach the netplan
// file or a shell.
#include <cstdio>
#include <cstring>

#include "config_internal.h"
#include "config_netplan_text.h"
#include "platform_paths.h"
#include "log_line.h"

namespace {

// Last host name set through the BMC; empty after every start.
constexpr std::size_t hostname_size = 256;
char hostname[hostname_size] = {};
static_assert(netplan_text::hostname_max < hostname_size, "a valid host name fits the stored name");
static_assert(sizeof("hostnamectl set-hostname ") - 1 + netplan_text::hostname_max < config_command_size,
              "a valid host name fits the command line");

constexpr std::size_t remove_command_size = platform::platform_buffer(config_command_size);
static_assert(sizeof("rm ") - 1 + sizeof(NK_PLATFORM_PATH("/etc/netplan/99-netcfg.yaml")) <= remove_command_size,
              "the remove command fits its buffer");

void cut_line_end(char* text)
{
    text[std::strcspn(text, "\r")] = '\0';
    text[std::strcspn(text, "\n")] = '\0';
}

// Runs a composed command line; its output is not used.
void run_command(const char* cmd)
{
    char result[config_command_size] = {};
    set_Command(cmd, result, sizeof result);
    cut_line_end(result);
}

// The address commands take effect outside DHCP mode only, and only with a
// dotted IPv4 text; the refusal of a bad text is logged under `caller`.
bool accept_address(const char* caller, const char* buffer)
{
    if (netplan_text::is_address_text(buffer)) {
        return true;
    }
    log_line("[ERROR] %s: refused a value that is not a dotted IPv4 text (digits and dots, 1 to 15)\n", caller);
    return false;
}

bool set_static_value(const char* caller, NETWORK_CONFIG_TYPE type, const char* buffer)
{
    if (network_mode == NETWORK_MODE::DHCP || !accept_address(caller, buffer)) {
        return false;
    }
    set_Network_Config_Data(type, buffer);
    return true;
}

bool set_any_mode_value(const char* caller, NETWORK_CONFIG_TYPE type, const char* buffer)
{
    if (!accept_address(caller, buffer)) {
        return false;
    }
    set_Network_Config_Data(type, buffer);
    return true;
}

}  // namespace

bool set_Network_Mode(uint8_t mode)
{
    const NETWORK_MODE wanted = mode == 0 ? NETWORK_MODE::STATIC : NETWORK_MODE::DHCP;
    const bool result = mode <= 1;
    if (network_mode == wanted) {
        return result;
    }
    network_mode = wanted;
    char cmd[remove_command_size] = {};
    std::snprintf(cmd, sizeof cmd, "rm %s", netplan_config_path);
    run_command(cmd);
    return result;
}

bool set_Config_IP_Address(char* buffer)
{
    return set_static_value("set_Config_IP_Address", NETWORK_CONFIG_TYPE::IP_ADDRESS, buffer);
}

bool set_Config_Gateway(char* buffer)
{
    return set_static_value("set_Config_Gateway", NETWORK_CONFIG_TYPE::GATEWAY, buffer);
}

bool set_Config_Subnetmask(char* buffer)
{
    return set_static_value("set_Config_Subnetmask", NETWORK_CONFIG_TYPE::SUBNETMASK, buffer);
}

bool set_Config_Dns1(char* buffer)
{
    return set_any_mode_value("set_Config_Dns1", NETWORK_CONFIG_TYPE::DNS1, buffer);
}

bool set_Config_Dns2(char* buffer)
{
    return set_any_mode_value("set_Config_Dns2", NETWORK_CONFIG_TYPE::DNS2, buffer);
}

bool run_Apply() { return set_Network_Config_Apply(); }

bool set_Config_Hostname(char* buffer)
{
    // An unterminated or over-long text is never read beyond this bound.
    const std::size_t len = strnlen(buffer, netplan_text::hostname_max + 1);
    if (len <= netplan_text::hostname_max && std::strncmp(buffer, hostname, len + 1) == 0) {
        return false;
    }
    if (!netplan_text::is_hostname(buffer)) {
        log_line("[ERROR] set_Config_Hostname: refused a host name that is not letters, digits and hyphens in "
               "dot-separated labels of 1 to 63 characters, 64 at most\n");
        return false;
    }
    std::memcpy(hostname, buffer, len);
    hostname[len] = '\0';
    char cmd[config_command_size] = {};
    std::snprintf(cmd, sizeof cmd, "hostnamectl set-hostname %.*s", static_cast<int>(len), hostname);
    run_command(cmd);
    return false;
}
