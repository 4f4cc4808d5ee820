// The node's netplan file: its two templates, reading and writing single
// settings, and activating it with "netplan apply". Every operation reads
// the file once, works on its text with the pure edits of
// config_netplan_text.h (line edits of the lines found by key and position;
// the file is never parsed as YAML) and writes it back at most once.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "config_internal.h"
#include "config_netplan_text.h"
#include "log_line.h"

const char* const netplan_config_path = netplan_file_path;

// The static template: no value is set yet, so every line of one is behind
// '#' (netplan rejects the placeholder x.x.x.x; the lines keep their place
// and the default prefix length for the values to come).
const char* const netplan_static_default_config = "# This is the network config written by 'subiquity'\n"
                                                  "network:\n"
                                                  "  ethernets:\n"
                                                  "    eth0:\n"
                                                  "      dhcp4: no\n"
                                                  "      #addresses: [x.x.x.x/24]\n"
                                                  "      #gateway4: x.x.x.x\n"
                                                  "      #nameservers:\n"
                                                  "        #addresses: [x.x.x.x,x.x.x.x]\n";

// Two public resolvers of different operators, so that one outage does not
// leave the node without name service.
const char* const netplan_dhcp_default_config = "# This is the network config written by 'subiquity'\n"
                                                "network:\n"
                                                "  ethernets:\n"
                                                "    eth0:\n"
                                                "      dhcp4: yes\n"
                                                "      nameservers:\n"
                                                "        addresses: [1.1.1.1,8.8.8.8]\n";

NETWORK_MODE network_mode = NETWORK_MODE::DHCP;

namespace {

const char* template_of_mode()
{
    return network_mode == NETWORK_MODE::STATIC ? netplan_static_default_config : netplan_dhcp_default_config;
}

// The text of the netplan file for one operation, read once: the file's
// content or, when it is missing, the template of the mode, which the
// operation then has to write (`create`). False when the file is refused
// (logged).
bool load_netplan(Config_File& file, std::string& text, bool& create)
{
    create = false;
    if (file.read()) {
        text = file.content();
        return true;
    }
    if (!file.missing()) {
        return false;
    }
    text = template_of_mode();
    create = true;
    return true;
}

}  // namespace

void write_netplan_template(const char* path)
{
    Config_File file(path, "init_netplan_config");
    file.replace(template_of_mode(), netplan_file_mode);
}

uint8_t get_netplan_setting(const char* path, NETWORK_CONFIG_TYPE type, char* str)
{
    if (type > NETWORK_CONFIG_TYPE::DNS2) {
        return 0;
    }
    Config_File file(path, "get_Network_Config_Data");
    std::string text;
    bool create = false;
    if (!load_netplan(file, text, create) || (create && !file.replace(text, netplan_file_mode))) {
        text.clear();  // no file: every value reads empty
    }
    const std::string value = netplan_text::setting_of(text, type);
    if (type == NETWORK_CONFIG_TYPE::MODE) {
        str[0] = value[0];
        return 0;
    }
    const std::size_t n = std::min(value.size(), caller_buffer_size - 1);
    std::memcpy(str, value.data(), n);
    str[n] = '\0';
    return 0;
}

uint8_t set_netplan_setting(const char* path, NETWORK_CONFIG_TYPE type, const char* str)
{
    if (type > NETWORK_CONFIG_TYPE::DNS2) {
        return 0;
    }
    if (type != NETWORK_CONFIG_TYPE::MODE && !netplan_text::is_setting_value(type, str)) {
        log_line("[ERROR] %s: refused a value that is not %s\n", "set_Network_Config_Data",
                 netplan_text::setting_value_rule(type));
        return 0;
    }
    Config_File file(path, "set_Network_Config_Data");
    std::string text;
    bool create = false;
    if (!load_netplan(file, text, create)) {
        return 0;
    }
    const netplan_text::Setting_Edit edit = netplan_text::with_setting(text, type, str);
    if (edit.missing != nullptr) {
        log_line("[ERROR] %s: %s has no %s line to set; nothing written\n", "set_Network_Config_Data", path,
                 edit.missing);
    }
    if (create || edit.text != text) {
        file.replace(edit.text, netplan_file_mode);
    }
    return 0;
}

bool apply_netplan(const char* path, const char* caller)
{
    // netplan opens every file of the folder: a FIFO there would block it,
    // so our own file is checked like any read first.
    Config_File file(path, caller, "netplan apply not run");
    std::string text;
    bool create = false;
    if (!load_netplan(file, text, create)) {
        return true;
    }
    if (create) {
        file.replace(text, netplan_file_mode);
    }
    // netplan generates all files or none: one file it rejects leaves the
    // node without netplan networking from the next boot on.
    if (netplan_text::says_static_without_address(text)) {
        log_line("[ERROR] %s: %s sets static addressing (dhcp4: no) but gives the interface no address; netplan "
                 "apply not run\n",
                 caller, path);
        return true;
    }
    const Netplan_Verdict verdict = run_netplan_generate(text);
    if (verdict.judgement == Netplan_Judgement::REJECTED) {
        const std::string why =
            verdict.message.empty() ? "exit status " + std::to_string(verdict.exit_status) : verdict.message;
        log_line("[ERROR] %s: netplan generate rejects the file: %s; netplan apply not run\n", caller, why.c_str());
        return true;
    }
    if (verdict.judgement == Netplan_Judgement::NOT_RUN) {
        log_line("[ERROR] %s: %s; netplan apply not run\n", caller, verdict.message.c_str());
        return true;
    }
    const char* const argv[] = {"netplan", "apply", nullptr};
    run_program(caller, Program_Call{"netplan apply", argv, netplan_apply_deadline});
    return true;
}

void init_netplan_config() { write_netplan_template(netplan_config_path); }

uint8_t get_Network_Config_Data(NETWORK_CONFIG_TYPE type, char* str)
{
    return get_netplan_setting(netplan_config_path, type, str);
}

uint8_t set_Network_Config_Data(NETWORK_CONFIG_TYPE type, const char* str)
{
    return set_netplan_setting(netplan_config_path, type, str);
}

bool set_Network_Config_Apply() { return apply_netplan(netplan_config_path, __func__); }

uint8_t get_Network_Mode() { return static_cast<uint8_t>(network_mode); }
