// The node's netplan file: its two templates, reading and writing single
// settings through the line editor, and activating it with "netplan apply".
// Every edit is a line edit told apart by key and exclusion text; the file is
// never parsed as YAML.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "config_internal.h"
#include "config_netplan_text.h"
#include "platform_paths.h"
#include "log_line.h"

const char* const netplan_config_path = NK_PLATFORM_PATH("/etc/netplan/99-netcfg.yaml");

const char* const netplan_static_default_config =
    "# This is the network config written by 'subiquity'\n"
    "network:\n"
    "  ethernets:\n"
    "    eth0:\n"
    "      dhcp4: no\n"
    "      addresses: [x.x.x.x/24]\n"
    "      gateway4: x.x.x.x\n"
    "      nameservers:\n"
    "        addresses: [x.x.x.x,x.x.x.x]\n";

// Two public resolvers of different operators, so that one outage does not
// leave the node without name service.
const char* const netplan_dhcp_default_config =
    "# This is the network config written by 'subiquity'\n"
    "network:\n"
    "  ethernets:\n"
    "    eth0:\n"
    "      dhcp4: yes\n"
    "      nameservers:\n"
    "        addresses: [1.1.1.1,8.8.8.8]\n";

NETWORK_MODE network_mode = NETWORK_MODE::DHCP;

namespace {

constexpr char netplan_token = ':';
constexpr std::size_t netplan_path_size = platform::platform_buffer(100);
static_assert(sizeof(NK_PLATFORM_PATH("/etc/netplan/99-netcfg.yaml")) <= netplan_path_size,
              "the netplan path fits its buffer");

// Keys and exclusion texts of the lines the operations address.
constexpr const char* mode_key = "dhcp4";
constexpr const char* addresses_key = "addresses";
constexpr const char* gateway_key = "gateway4";
constexpr const char* nameservers_key = "nameservers";
constexpr const char* not_dns_list = ",";        // keeps the name server list out of address edits
constexpr const char* not_address_list = "/";    // keeps the interface address out of DNS edits

bool netplan_readable() { return access(netplan_config_path, R_OK) == 0; }

// Makes sure the network file exists; copies its path when asked.
NETWORK_MANAGER_TYPE get_Network_Manager_Type(char* path)
{
    if (!netplan_readable()) {
        init_netplan_config();
    }
    if (path != nullptr) {
        std::strncpy(path, netplan_config_path, netplan_path_size - 1);
        path[netplan_path_size - 1] = '\0';
    }
    return NETWORK_MANAGER_TYPE::NETPLAN;
}

// One line value of the file ("" when absent); comment marks are honoured
// unless `any_line` is set.
std::string read_value(const char* path, const char* key, const char* ignore_str, bool any_line)
{
    char value[config_value_size] = {};
    get_Config_Data(path, key, value, netplan_token, ignore_str, any_line);
    return value;
}

void set_comment(const char* path, const char* key, bool comment, const char* ignore_str = nullptr)
{
    set_Config_Data_Comment(path, key, comment, netplan_token, ignore_str);
}

// Comments the static lines out (DHCP) or brings them back (static).
void set_static_lines_commented(const char* path, bool comment)
{
    set_comment(path, addresses_key, comment, not_dns_list);
    set_comment(path, gateway_key, comment);
    set_comment(path, addresses_key, comment, not_address_list);
    set_comment(path, nameservers_key, comment);
}

// Reads an "addresses" value, splices into it and writes it back. A value
// that fills the whole read buffer may have been cut: such a line is left
// alone rather than written back short.
template <typename Splice>
void splice_addresses(const char* path, const char* ignore_str, Splice splice)
{
    const std::string old_value = read_value(path, addresses_key, ignore_str, false);
    if (old_value.size() >= config_value_size - 1) {
        return;
    }
    const std::optional<std::string> value = splice(old_value);
    if (value) {
        set_Config_Data(path, addresses_key, value->c_str(), netplan_token, ignore_str);
    }
}

void set_dns_lines_active(const char* path)
{
    set_comment(path, addresses_key, false, not_address_list);
    set_comment(path, nameservers_key, false);
}

}  // namespace

void init_netplan_config()
{
    const char* tmpl =
        network_mode == NETWORK_MODE::STATIC ? netplan_static_default_config : netplan_dhcp_default_config;
    config_write_file(netplan_config_path, tmpl);
}

uint8_t get_Network_Config_Data(NETWORK_CONFIG_TYPE type, char* str)
{
    if (type > NETWORK_CONFIG_TYPE::DNS2) {
        return 0;
    }
    char path[netplan_path_size] = {};
    get_Network_Manager_Type(path);
    std::string text;
    switch (type) {
    case NETWORK_CONFIG_TYPE::MODE:
        str[0] = read_value(path, mode_key, nullptr, true).find("yes") != std::string::npos ? 0 : 1;
        return 0;
    case NETWORK_CONFIG_TYPE::IP_ADDRESS:
        text = netplan_text::address_of(read_value(path, addresses_key, not_dns_list, true));
        break;
    case NETWORK_CONFIG_TYPE::SUBNETMASK:
        text = netplan_text::mask_of(read_value(path, addresses_key, not_dns_list, true));
        break;
    case NETWORK_CONFIG_TYPE::GATEWAY:
        text = read_value(path, gateway_key, nullptr, true);
        break;
    case NETWORK_CONFIG_TYPE::DNS1:
        text = netplan_text::dns1_of(read_value(path, addresses_key, not_address_list, true));
        break;
    case NETWORK_CONFIG_TYPE::DNS2:
        text = netplan_text::dns2_of(read_value(path, addresses_key, not_address_list, true));
        break;
    default:
        return 0;
    }
    // Every value comes from a buffer of config_value_size bytes and fits.
    std::memcpy(str, text.c_str(), std::min(text.size() + 1, config_value_size));
    str[config_value_size - 1] = '\0';
    return 0;
}

uint8_t set_Network_Config_Data(NETWORK_CONFIG_TYPE type, const char* str)
{
    if (type > NETWORK_CONFIG_TYPE::DNS2) {
        return 0;
    }
    if (type != NETWORK_CONFIG_TYPE::MODE && !netplan_text::is_address_text(str)) {
        log_line("[ERROR] %s: refused a value that is not a dotted IPv4 text (digits and dots, 1 to 15)\n",
               "set_Network_Config_Data");
        return 0;
    }
    char path[netplan_path_size] = {};
    get_Network_Manager_Type(path);
    switch (type) {
    case NETWORK_CONFIG_TYPE::MODE: {
        const bool dhcp = str[0] == 0;
        set_Config_Data(path, mode_key, dhcp ? "yes" : "no", netplan_token, nullptr);
        set_static_lines_commented(path, dhcp);
        break;
    }
    case NETWORK_CONFIG_TYPE::IP_ADDRESS:
        set_comment(path, addresses_key, false, not_dns_list);
        splice_addresses(path, not_dns_list,
                         [str](const std::string& v) { return netplan_text::with_address(v, str); });
        break;
    case NETWORK_CONFIG_TYPE::GATEWAY:
        set_comment(path, gateway_key, false);
        set_Config_Data(path, gateway_key, str, netplan_token, nullptr);
        break;
    case NETWORK_CONFIG_TYPE::SUBNETMASK:
        set_comment(path, addresses_key, false, not_dns_list);
        splice_addresses(path, not_dns_list, [str](const std::string& v) {
            return netplan_text::with_prefix(v, netplan_text::get_Subnetmask_Bit_Count(str));
        });
        break;
    case NETWORK_CONFIG_TYPE::DNS1:
    case NETWORK_CONFIG_TYPE::DNS2: {
        const bool first = type == NETWORK_CONFIG_TYPE::DNS1;
        set_dns_lines_active(path);
        splice_addresses(path, not_address_list, [str, first](const std::string& v) {
            return first ? netplan_text::with_dns1(v, str) : netplan_text::with_dns2(v, str);
        });
        break;
    }
    default:
        break;
    }
    return 0;
}

bool set_Network_Config_Apply()
{
    get_Network_Manager_Type(nullptr);
    set_Command("netplan apply", nullptr, 0);
    return true;
}

uint8_t get_Network_Mode() { return static_cast<uint8_t>(network_mode); }
