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

// "[a<sep>b]" with both parts accepted by check.
template <typename Check>
bool is_pair_list(const std::string& value, char sep, Check check_second)
{
    if (value.size() < 2 || value.front() != '[' || value.back() != ']') {
        return false;
    }
    const std::string inner = value.substr(1, value.size() - 2);
    const auto at = inner.find(sep);
    return at != std::string::npos && is_address_like(inner.substr(0, at)) && check_second(inner.substr(at + 1));
}

bool value_allowed(const std::string& key, const std::string& template_value, const std::string& value)
{
    if (key == "dhcp4") {
        return value == "yes" || value == "no";
    }
    if (key == "gateway4") {
        return is_address_like(value);
    }
    if (key == "addresses" && template_value.find('/') != std::string::npos) {
        return is_pair_list(value, '/', is_prefix_length);
    }
    if (key == "addresses") {
        return is_pair_list(value, ',', is_address_like);
    }
    return value == template_value;
}

void check_line(const std::string& tmpl, const std::string& line)
{
    const auto colon = tmpl.find(':');
    if (colon == std::string::npos) {
        if (line != tmpl) {
            fail("line changed: \"" + tmpl + "\" became \"" + line + "\"");
        }
        return;
    }
    const auto indent = tmpl.find_first_not_of(' ');
    const std::string key = tmpl.substr(indent, colon - indent);
    std::string rest = line;
    if (rest.compare(0, indent, tmpl, 0, indent) != 0) {
        fail("indentation changed: \"" + line + "\"");
    }
    rest.erase(0, indent);
    if (!rest.empty() && rest[0] == '#') {
        rest.erase(0, 1);
    }
    if (rest.compare(0, key.size() + 1, key + ":") != 0) {
        fail("key \"" + key + "\" lost: \"" + line + "\"");
    }
    rest.erase(0, key.size() + 1);
    std::string template_value = tmpl.substr(colon + 1);
    if (!template_value.empty()) {
        // The editor writes "key: value": one space behind the separator.
        if (rest.empty() || rest[0] != ' ') {
            fail("no space behind \"" + key + ":\": \"" + line + "\"");
        }
        rest.erase(0, 1);
        template_value.erase(0, 1);
    }
    if (!value_allowed(key, template_value, rest)) {
        fail("value not allowed behind \"" + key + ":\": \"" + line + "\"");
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

void check_commands()
{
    const std::string remove = std::string("rm ") + netplan_config_path;
    for (const std::string& cmd : take_commands()) {
        if (cmd != remove && cmd != "netplan apply" && !is_hostname_command(cmd)) {
            fail("unexpected command line: \"" + cmd + "\"");
        }
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
