// The network commands of the BMC, run on the BMC link thread one packet at
// a time: addressing mode, address, gateway, netmask, name servers, apply,
// host name. Texts from the BMC are checked before they reach the netplan
// file or a program, and nothing a command throws leaves it: the link goes
// on.
#include <cstring>
#include <string>

#include "config_internal.h"
#include "config_netplan_text.h"
#include "log_line.h"

namespace {

// Last host name set through the BMC; empty after every start.
constexpr std::size_t hostname_size = 256;
char hostname[hostname_size] = {};
static_assert(netplan_text::hostname_max < hostname_size, "a valid host name fits the stored name");

// The address commands take effect outside DHCP mode only.
bool needs_static_mode(NETWORK_CONFIG_TYPE type)
{
    return type == NETWORK_CONFIG_TYPE::IP_ADDRESS || type == NETWORK_CONFIG_TYPE::GATEWAY ||
           type == NETWORK_CONFIG_TYPE::SUBNETMASK;
}

// A value command of the BMC on the platform's netplan file.
bool run_value_command(const char* caller, NETWORK_CONFIG_TYPE type, const char* buffer)
{
    return run_network_command(caller, [=] { return set_network_value(netplan_config_path, caller, type, buffer); });
}

}  // namespace

void log_command_failure(const char* caller, const char* what)
{
    log_line("[ERROR] %s: %s; the command was not carried out\n", caller, what);
}

bool set_network_mode(const char* path, uint8_t mode)
{
    const NETWORK_MODE wanted = mode == 0 ? NETWORK_MODE::STATIC : NETWORK_MODE::DHCP;
    const bool result = mode <= 1;
    if (network_mode == wanted) {
        return result;
    }
    network_mode = wanted;
    remove_config_file(path, "set_Network_Mode");
    return result;
}

bool set_network_value(const char* path, const char* caller, NETWORK_CONFIG_TYPE type, const char* buffer)
{
    if (needs_static_mode(type) && network_mode == NETWORK_MODE::DHCP) {
        return false;
    }
    if (!netplan_text::is_setting_value(type, buffer)) {
        log_line("[ERROR] %s: refused a value that is not %s\n", caller, netplan_text::setting_value_rule(type));
        return false;
    }
    set_netplan_setting(path, type, buffer);
    return true;
}

bool set_Network_Mode(uint8_t mode)
{
    return run_network_command(__func__, [&] { return set_network_mode(netplan_config_path, mode); });
}

bool set_Config_IP_Address(char* buffer)
{
    return run_value_command(__func__, NETWORK_CONFIG_TYPE::IP_ADDRESS, buffer);
}

bool set_Config_Gateway(char* buffer) { return run_value_command(__func__, NETWORK_CONFIG_TYPE::GATEWAY, buffer); }

bool set_Config_Subnetmask(char* buffer)
{
    return run_value_command(__func__, NETWORK_CONFIG_TYPE::SUBNETMASK, buffer);
}

bool set_Config_Dns1(char* buffer) { return run_value_command(__func__, NETWORK_CONFIG_TYPE::DNS1, buffer); }

bool set_Config_Dns2(char* buffer) { return run_value_command(__func__, NETWORK_CONFIG_TYPE::DNS2, buffer); }

bool run_Apply()
{
    return run_network_command(__func__, [] { return apply_netplan(netplan_config_path, "run_Apply"); });
}

bool set_Config_Hostname(char* buffer)
{
    return run_network_command(__func__, [buffer] {
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
        const std::string name(buffer, len);
        const char* const argv[] = {"hostnamectl", "set-hostname", name.c_str(), nullptr};
        // Stored only once set, so that the BMC's retry of a failed name
        // runs the tool again.
        if (run_program("set_Config_Hostname", Program_Call{"hostnamectl set-hostname", argv, hostnamectl_deadline})
                .succeeded()) {
            std::memcpy(hostname, buffer, len);
            hostname[len] = '\0';
        }
        return false;
    });
}
