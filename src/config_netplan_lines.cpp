// The netplan file as lines: the daemon's lines found by key and position,
// each setting's edit of the whole text, and the reads (see
// config_netplan_text.h for the forms). Pure text work, no I/O.
#include <cctype>
#include <cstring>
#include <functional>
#include <vector>

#include "config_edit.h"
#include "config_netplan_text.h"

namespace netplan_text {
namespace {

constexpr char netplan_token = ':';
constexpr char mode_key[] = "dhcp4";
constexpr char ipv6_mode_key[] = "dhcp6";
constexpr char addresses_key[] = "addresses";
constexpr char gateway_key[] = "gateway4";
constexpr char nameservers_key[] = "nameservers";

// What the missing lines are called in the refusal's log line.
constexpr char interface_line[] = "interface address (addresses:)";
constexpr char name_server_line[] = "name server (addresses: under nameservers:)";

enum class Role : uint8_t { OTHER, MODE, INTERFACE, GATEWAY, NAMESERVERS, NAME_SERVERS };

struct Line {
    std::string text;  // with its line end
    std::string key;   // empty: the line holds no key
    std::size_t indent = 0;
    std::size_t key_at = 0;
    bool commented = false;  // '#' between the indentation and the key
    Role role = Role::OTHER;

    bool active_key() const { return !key.empty() && !commented; }
    // Blank, or only a comment.
    bool is_comment_or_blank() const
    {
        const std::size_t at = text.find_first_not_of(" \t\r\n");
        return at == std::string::npos || text[at] == '#';
    }
};

bool is_key_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-'; }

Line read_line(std::string_view text)
{
    Line line;
    line.text = std::string(text);
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    line.indent = i;
    std::size_t key_at = i;
    while (key_at < text.size() && text[key_at] == '#') {
        ++key_at;
    }
    std::size_t end = key_at;
    while (end < text.size() && is_key_char(text[end])) {
        ++end;
    }
    if (end > key_at && end < text.size() && text[end] == netplan_token) {
        line.key = std::string(text.substr(key_at, end - key_at));
        line.key_at = key_at;
        line.commented = key_at > i;
    }
    return line;
}

// The lines of the text, each keyed one with its role: an "addresses" line
// whose nearest less-indented key line is "nameservers" holds the name
// servers, any other the interface's address.
std::vector<Line> read_lines(std::string_view text)
{
    std::vector<Line> lines;
    std::vector<std::size_t> open_keys;  // key lines of increasing indentation
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::size_t len = lf == std::string_view::npos ? text.size() : lf + 1;
        Line line = read_line(text.substr(0, len));
        text.remove_prefix(len);
        if (!line.key.empty()) {
            while (!open_keys.empty() && lines[open_keys.back()].indent >= line.indent) {
                open_keys.pop_back();
            }
            const bool under_nameservers = !open_keys.empty() && lines[open_keys.back()].key == nameservers_key;
            if (line.key == mode_key) {
                line.role = Role::MODE;
            } else if (line.key == gateway_key) {
                line.role = Role::GATEWAY;
            } else if (line.key == nameservers_key) {
                line.role = Role::NAMESERVERS;
            } else if (line.key == addresses_key) {
                line.role = under_nameservers ? Role::NAME_SERVERS : Role::INTERFACE;
            }
            open_keys.push_back(lines.size());
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string joined(const std::vector<Line>& lines)
{
    std::string text;
    for (const Line& line : lines) {
        text += line.text;
    }
    return text;
}

// The value behind the key, as the store's editor reads it; cut to what a
// caller's buffer holds.
std::string value_of(const Line& line)
{
    const auto value = config_edit::find_value(line.text, line.key.c_str(), netplan_token, nullptr, true);
    return value ? value->substr(0, caller_buffer_size - 1) : std::string();
}

// A value an edit can build on: not blank (a block-style list below the key)
// and not so long that a caller's buffer may have cut it.
bool is_editable(const std::string& value)
{
    return value.find_first_not_of(" \t\r\n") != std::string::npos && value.size() < caller_buffer_size - 1;
}

// The part of a value before its comment.
std::string_view active_part(std::string_view value) { return value.substr(0, value.find('#')); }

bool holds_unset_value(const std::string& value)
{
    return active_part(value).find(unset_value) != std::string_view::npos;
}

// Adds or removes the comment mark in front of the key; the rest of the line
// stays as it is.
void set_mark(Line& line, bool active)
{
    if (line.key.empty() || line.commented != active) {
        return;
    }
    if (active) {
        line.text.erase(line.indent, line.key_at - line.indent);
        line.key_at = line.indent;
    } else {
        line.text.insert(line.key_at, 1, '#');
        ++line.key_at;
    }
    line.commented = !active;
}

// Replaces the line by its indentation and the entry "key: value", behind a
// comment mark when not active.
void set_entry(Line& line, const std::string& value, bool active)
{
    line.text = line.text.substr(0, line.indent) + (active ? "" : "#") + line.key + netplan_token + " " + value + "\n";
    line.key_at = line.indent + (active ? 0 : 1);
    line.commented = !active;
}

// The list text of an interface address or name server line, and whether
// it is set; false when the value is not one an edit builds on.
bool list_form(Role role, const std::string& value, std::string& text, bool& set)
{
    if (!is_editable(value)) {
        return false;
    }
    if (role == Role::INTERFACE) {
        const Interface_Address list = parse_interface_address(value);
        text = interface_address_text(list);
        set = is_set(list);
    } else {
        const Name_Servers list = parse_name_servers(value);
        text = name_servers_text(list);
        set = is_set(list);
    }
    return text.size() < compose_size;
}

// An active line that shows an unset value goes behind '#', a list keeps
// only its set entries. The other lines stay as they are.
void settle_unset(Line& line)
{
    if (!line.active_key() ||
        (line.role != Role::INTERFACE && line.role != Role::GATEWAY && line.role != Role::NAME_SERVERS)) {
        return;
    }
    const std::string value = value_of(line);
    if (!holds_unset_value(value)) {
        return;
    }
    std::string text;
    bool set = false;
    if (line.role == Role::GATEWAY) {
        set_mark(line, false);
    } else if (list_form(line.role, value, text, set)) {
        set_entry(line, text, set);
    }
}

// Brings a commented line of static addressing back when its value is set.
void restore_if_set(Line& line)
{
    if (line.key.empty() || !line.commented) {
        return;
    }
    const std::string value = value_of(line);
    std::string text;
    bool set = false;
    if (line.role == Role::GATEWAY) {
        set = is_gateway_set(value);
    } else if (!list_form(line.role, value, text, set)) {
        return;
    }
    if (!set) {
        return;
    }
    set_mark(line, true);
    if (holds_unset_value(value)) {
        set_entry(line, text, true);
    }
}

// A "nameservers:" line with nothing active under it goes behind '#' (netplan
// rejects it), one with something active under it is active. One that holds
// a value of its own (a flow mapping) stays as it is.
void settle_nameservers(std::vector<Line>& lines)
{
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Line& head = lines[i];
        if (head.role != Role::NAMESERVERS || is_editable(value_of(head))) {
            continue;
        }
        bool active_under = false;
        for (std::size_t j = i + 1; j < lines.size(); ++j) {
            const Line& line = lines[j];
            if (line.key.empty() && line.is_comment_or_blank()) {
                continue;
            }
            if (line.indent <= head.indent) {
                break;
            }
            if (line.key.empty() || !line.commented) {
                active_under = true;
                break;
            }
        }
        set_mark(head, active_under);
    }
}

// The first word of a value, in lower case ("No # static" gives "no").
std::string first_word(const std::string& value)
{
    std::string word(active_part(value));
    word = word.substr(0, word.find_first_of(" \t\r"));
    for (char& c : word) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return word;
}

// YAML's words for false and true, as netplan reads a boolean.
bool is_false_word(const std::string& word) { return word == "no" || word == "false" || word == "off" || word == "n"; }
bool is_true_word(const std::string& word) { return word == "yes" || word == "true" || word == "on" || word == "y"; }

std::vector<Line*> lines_of(std::vector<Line>& lines, Role role)
{
    std::vector<Line*> found;
    for (Line& line : lines) {
        if (line.role == role) {
            found.push_back(&line);
        }
    }
    return found;
}

// The mode setting: "dhcp4" on every active mode line; for DHCP every line
// of static addressing behind '#', for static those whose value is set
// back. False when no active mode line exists.
bool set_mode(std::vector<Line>& lines, bool dhcp)
{
    bool found = false;
    for (Line* line : lines_of(lines, Role::MODE)) {
        if (line->active_key()) {
            set_entry(*line, dhcp ? "yes" : "no", true);
            found = true;
        }
    }
    for (Line& line : lines) {
        if (line.role == Role::INTERFACE || line.role == Role::GATEWAY || line.role == Role::NAME_SERVERS) {
            if (dhcp) {
                set_mark(line, false);
            } else {
                restore_if_set(line);
            }
        }
    }
    return found;
}

// An edit of the interface address or name server list: the first line's
// value changed by `change`, written to every line of the role, active when
// the result holds a set value. False when no line of the role exists.
template <typename List, typename Parse, typename Text>
bool set_list(std::vector<Line>& lines, Role role, Parse parse, Text text_of, const std::function<void(List&)>& change)
{
    const std::vector<Line*> found = lines_of(lines, role);
    if (found.empty()) {
        return false;
    }
    const std::string value = value_of(*found.front());
    if (!is_editable(value)) {
        return true;
    }
    List list = parse(value);
    change(list);
    const std::string text = text_of(list);
    if (text.size() >= compose_size) {
        return true;
    }
    for (Line* line : found) {
        set_entry(*line, text, is_set(list));
    }
    return true;
}

bool set_interface(std::vector<Line>& lines, const std::function<void(Interface_Address&)>& change)
{
    return set_list<Interface_Address>(lines, Role::INTERFACE, parse_interface_address, interface_address_text, change);
}

bool set_name_servers(std::vector<Line>& lines, const std::function<void(Name_Servers&)>& change)
{
    return set_list<Name_Servers>(lines, Role::NAME_SERVERS, parse_name_servers, name_servers_text, change);
}

bool set_gateway(std::vector<Line>& lines, const char* value)
{
    const std::vector<Line*> found = lines_of(lines, Role::GATEWAY);
    for (Line* line : found) {
        set_entry(*line, value, true);
    }
    return !found.empty();
}

// The value of the first line of a role, commented or not; "" without one.
std::string first_value(const std::vector<Line>& lines, Role role)
{
    for (const Line& line : lines) {
        if (line.role == role) {
            return value_of(line);
        }
    }
    return std::string();
}

bool has_line(const std::vector<Line>& lines, Role role)
{
    for (const Line& line : lines) {
        if (line.role == role) {
            return true;
        }
    }
    return false;
}

}  // namespace

Setting_Edit with_setting(std::string_view text, NETWORK_CONFIG_TYPE type, const char* value)
{
    Setting_Edit edit;
    edit.text = std::string(text);
    std::vector<Line> lines = read_lines(text);
    bool found = true;
    switch (type) {
    case NETWORK_CONFIG_TYPE::MODE:
        found = set_mode(lines, value[0] == 0);
        edit.missing = found ? nullptr : mode_key;
        break;
    case NETWORK_CONFIG_TYPE::IP_ADDRESS:
        found = set_interface(lines, [value](Interface_Address& list) { list.address = value; });
        edit.missing = found ? nullptr : interface_line;
        break;
    case NETWORK_CONFIG_TYPE::SUBNETMASK:
        found = set_interface(lines, [bits = get_Subnetmask_Bit_Count(value)](Interface_Address& list) {
            list.prefix = std::to_string(bits);
        });
        edit.missing = found ? nullptr : interface_line;
        break;
    case NETWORK_CONFIG_TYPE::GATEWAY:
        found = set_gateway(lines, value);
        edit.missing = found ? nullptr : gateway_key;
        break;
    case NETWORK_CONFIG_TYPE::DNS1:
    case NETWORK_CONFIG_TYPE::DNS2: {
        const bool first = type == NETWORK_CONFIG_TYPE::DNS1;
        found =
            set_name_servers(lines, [first, value](Name_Servers& list) { (first ? list.first : list.second) = value; });
        edit.missing = found ? nullptr : name_server_line;
        break;
    }
    default:
        return edit;
    }
    if (!found) {
        return edit;
    }
    for (Line& line : lines) {
        settle_unset(line);
    }
    settle_nameservers(lines);
    edit.text = joined(lines);
    return edit;
}

std::string setting_of(std::string_view text, NETWORK_CONFIG_TYPE type)
{
    const std::vector<Line> lines = read_lines(text);
    switch (type) {
    case NETWORK_CONFIG_TYPE::MODE:
        return std::string(1, first_value(lines, Role::MODE).find("yes") != std::string::npos ? 0 : 1);
    case NETWORK_CONFIG_TYPE::IP_ADDRESS:
        return parse_interface_address(first_value(lines, Role::INTERFACE)).address;
    case NETWORK_CONFIG_TYPE::SUBNETMASK:
        return mask_of_prefix(parse_interface_address(first_value(lines, Role::INTERFACE)).prefix);
    case NETWORK_CONFIG_TYPE::GATEWAY:
        return first_value(lines, Role::GATEWAY);
    case NETWORK_CONFIG_TYPE::DNS1:
    case NETWORK_CONFIG_TYPE::DNS2: {
        if (!has_line(lines, Role::NAME_SERVERS)) {
            return std::string();
        }
        const Name_Servers list = parse_name_servers(first_value(lines, Role::NAME_SERVERS));
        return type == NETWORK_CONFIG_TYPE::DNS1 ? list.first : list.second;
    }
    default:
        return std::string();
    }
}

bool says_static_without_address(std::string_view text)
{
    bool static_mode = false;
    for (const Line& line : read_lines(text)) {
        if (!line.active_key()) {
            continue;
        }
        const std::string value = value_of(line);
        if (line.role == Role::MODE) {
            static_mode = is_false_word(first_word(value));
        } else if ((line.role == Role::INTERFACE && is_set(parse_interface_address(value))) ||
                   (line.key == ipv6_mode_key && is_true_word(first_word(value)))) {
            return false;
        }
    }
    return static_mode;
}

}  // namespace netplan_text
