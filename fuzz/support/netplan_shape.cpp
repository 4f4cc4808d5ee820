#include "netplan_shape.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "config_internal.h"
#include "fuzz_sandbox.h"

namespace nk_fuzz {
namespace {

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            fail("the netplan file does not end with a line end");
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// 1 to max_size characters, each accepted by allowed.
template <typename Allowed>
bool is_word_of(const std::string& text, std::size_t max_size, Allowed allowed)
{
    return !text.empty() && text.size() <= max_size &&
           std::all_of(text.begin(), text.end(), [&](char c) { return allowed(static_cast<unsigned char>(c)); });
}

// A dotted-quad address as netplan takes it, or the template's placeholder.
bool is_address_like(const std::string& text)
{
    struct in_addr address;
    return text == "x.x.x.x" || (text.size() <= 15 && inet_pton(AF_INET, text.c_str(), &address) == 1);
}

bool is_prefix_length(const std::string& text)
{
    return is_word_of(text, 2, [](unsigned char c) { return std::isdigit(c) != 0; }) && std::stoi(text) <= 32;
}

// A set address, or, behind '#' only, the placeholder.
bool is_value(const std::string& text, bool active) { return is_address_like(text) && (!active || text != "x.x.x.x"); }

// The interface's "[address/prefix]".
bool is_interface_list(const std::string& value, bool active)
{
    const auto slash = value.find('/');
    return value.size() > 2 && value.front() == '[' && value.back() == ']' && slash != std::string::npos &&
           is_value(value.substr(1, slash - 1), active) &&
           is_prefix_length(value.substr(slash + 1, value.size() - slash - 2));
}

// "[a,b]", "[a]", "[b] #[x.x.x.x,b]", and behind '#' also
// "[x.x.x.x,x.x.x.x]".
bool is_name_server_list(const std::string& value, bool active)
{
    if (!active && value == "[x.x.x.x,x.x.x.x]") {
        return true;
    }
    const auto close = value.find(']');
    if (value.empty() || value.front() != '[' || close == std::string::npos) {
        return false;
    }
    const std::string inner = value.substr(1, close - 1);
    const std::string rest = value.substr(close + 1);
    const auto comma = inner.find(',');
    if (comma != std::string::npos) {
        return rest.empty() && is_value(inner.substr(0, comma), true) && is_value(inner.substr(comma + 1), true);
    }
    return is_value(inner, true) && (rest.empty() || rest == " #[x.x.x.x," + inner + "]");
}

// A line of the template or of the file: indentation, comment marks, key,
// ':' and the value behind one space.
struct Line_Parts {
    std::string indent;
    bool active = true;
    std::string key;  // empty: no key
    std::string value;
};

Line_Parts split_line(const std::string& line)
{
    Line_Parts parts;
    const auto start = line.find_first_not_of(' ');
    parts.indent = line.substr(0, start == std::string::npos ? line.size() : start);
    std::string rest = start == std::string::npos ? std::string() : line.substr(start);
    if (!rest.empty() && rest[0] == '#') {
        parts.active = false;
        rest.erase(0, 1);
    }
    const auto colon = rest.find(':');
    if (colon == std::string::npos || colon == 0 ||
        !std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; })) {
        return parts;
    }
    parts.key = rest.substr(0, colon);
    parts.value = rest.substr(colon + 1);
    if (!parts.value.empty()) {
        if (parts.value[0] != ' ') {
            fail("no space behind \"" + parts.key + ":\": \"" + line + "\"");
        }
        parts.value.erase(0, 1);
    }
    return parts;
}

bool value_allowed(const Line_Parts& tmpl, const Line_Parts& line)
{
    if (line.key == "dhcp4") {
        return line.active && (line.value == "yes" || line.value == "no");
    }
    if (line.key == "gateway4") {
        return is_value(line.value, line.active);
    }
    if (line.key == "addresses" && tmpl.value.find('/') != std::string::npos) {
        return is_interface_list(line.value, line.active);
    }
    if (line.key == "addresses") {
        return is_name_server_list(line.value, line.active);
    }
    return line.value == tmpl.value;
}

void check_line(const std::string& tmpl, const std::string& line)
{
    const Line_Parts want = split_line(tmpl);
    if (want.key.empty()) {
        if (line != tmpl) {
            fail("line changed: \"" + tmpl + "\" became \"" + line + "\"");
        }
        return;
    }
    const Line_Parts have = split_line(line);
    if (have.indent != want.indent || have.key != want.key) {
        fail("indentation or key \"" + want.key + "\" changed: \"" + line + "\"");
    }
    if (!value_allowed(want, have)) {
        fail("value not allowed behind \"" + want.key + ":\": \"" + line + "\"");
    }
}

void check_netplan_file()
{
    if (access(netplan_config_path, F_OK) != 0) {
        return;  // removed by a mode change; the next command writes a template
    }
    Config_File file(netplan_config_path, "check_netplan_file");
    if (!file.read()) {
        fail("the netplan file cannot be read");
    }
    const std::string& content = file.content();
    const char* tmpl =
        network_mode == NETWORK_MODE::STATIC ? netplan_static_default_config : netplan_dhcp_default_config;
    const std::vector<std::string> want = split_lines(tmpl);
    const std::vector<std::string> have = split_lines(content);
    if (want.size() != have.size()) {
        fail("the netplan file has " + std::to_string(have.size()) + " lines instead of " +
             std::to_string(want.size()) + ":\n" + content);
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
        check_line(want[i], have[i]);
        // netplan rejects "nameservers:" with nothing under it.
        if (split_line(want[i]).key == "nameservers" && i + 1 < have.size() &&
            split_line(have[i]).active != split_line(have[i + 1]).active) {
            fail("\"nameservers:\" and its list differ in their comment marks:\n" + content);
        }
    }
}

// A host name: at most 64 characters in dot-separated labels of 1 to 63
// letters, digits and hyphens, none starting or ending with a hyphen.
bool is_hostname(const std::string& name)
{
    if (name.empty() || name.size() > 64) {
        return false;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = name.find('.', start);
        const std::string label = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (!is_word_of(label, 63, [](unsigned char c) { return std::isalnum(c) || c == '-'; }) ||
            label.front() == '-' || label.back() == '-') {
            return false;
        }
        if (dot == std::string::npos) {
            return true;
        }
        start = dot + 1;
    }
}

bool is_hostname_command(const std::string& cmd)
{
    static const std::string head = "hostnamectl set-hostname ";
    return cmd.compare(0, head.size(), head) == 0 && is_hostname(cmd.substr(head.size()));
}

bool is_generate_command(const std::string& cmd)
{
    static const std::string head =
        std::string("netplan generate --root-dir ") + netplan_generate_folder + "/generate-";
    return cmd.compare(0, head.size(), head) == 0 && cmd.size() == head.size() + 6 &&
           cmd.find_first_of(" /", head.size()) == std::string::npos;
}

void check_commands()
{
    std::string previous;
    for (const std::string& cmd : take_commands()) {
        if (cmd == "netplan apply" ? !is_generate_command(previous)
                                   : !is_generate_command(cmd) && !is_hostname_command(cmd)) {
            fail("unexpected command line: \"" + cmd + "\" after \"" + previous + "\"");
        }
        previous = cmd;
    }
}

}  // namespace

void reset_network(bool static_mode)
{
    network_mode = static_mode ? NETWORK_MODE::STATIC : NETWORK_MODE::DHCP;
    init_netplan_config();
    take_commands();
}

void check_network_effects()
{
    check_commands();
    check_netplan_file();
}

}  // namespace nk_fuzz
