// The BMC's network commands on a netplan file seeded from the input: hand
// edits, CRLF line ends, block-style lists, overlong lines, no final line
// end, binary bytes, and files at or just over the store's cap. After every
// command, besides the sanitizers:
//  - only lines holding one of the daemon's keys changed, and no line was
//    added (but the line end a replaced last line gains); a line the
//    command does not address changed only by '#' marks or because it held
//    the placeholder x.x.x.x, which then no longer stands in an active
//    line;
//  - a command whose value is not a dotted-quad address (a netmask: three
//    or four parts 0 to 255, ones then zeros) changed nothing, and every
//    entry written holds the command's own value;
//  - a file within the cap stays within it; a larger one is left alone;
//  - the only command lines are "netplan generate --root-dir <folder>" and,
//    right after it, "netplan apply".
// Runs in a sandbox folder with recording fakes of the commands.
#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "config_internal.h"
#include "support/fuzz_sandbox.h"

namespace {

using nk_fuzz::fail;

constexpr int max_commands_per_input = 8;

enum class Command { ip, gateway, mask, dns1, dns2, mode_setting, apply, mode_command };

struct FileState {
    bool exists = false;
    std::string text;
};

FileState read_netplan()
{
    FileState state;
    std::ifstream in(netplan_config_path, std::ios::binary);
    if (!in) {
        return state;
    }
    std::ostringstream s;
    s << in.rdbuf();
    state.exists = true;
    state.text = s.str();
    return state;
}

std::vector<std::string> segments(const std::string& text)
{
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == '\n') {
            parts.emplace_back();
        } else {
            parts.back().push_back(c);
        }
    }
    return parts;
}

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Independent of the product's checks: what netplan takes as an address.
bool is_dotted_quad(const std::string& text)
{
    struct in_addr address;
    return text.size() <= 15 && inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool is_mask(const std::string& text)
{
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == '.') {
            parts.emplace_back();
        } else if (c >= '0' && c <= '9' && parts.back().size() < 3) {
            parts.back().push_back(c);
        } else {
            return false;
        }
    }
    if (parts.size() != 3 && parts.size() != 4) {
        return false;
    }
    std::string bits;
    for (const std::string& part : parts) {
        if (part.empty() || std::stoi(part) > 255) {
            return false;
        }
        for (int bit = 7; bit >= 0; --bit) {
            bits.push_back((std::stoi(part) >> bit) & 1 ? '1' : '0');
        }
    }
    // Ones (at least one: prefix /0 is refused by netplan), then zeros.
    return bits[0] == '1' && bits.find("01") == std::string::npos;
}

std::vector<std::string> keys_of(Command command)
{
    switch (command) {
    case Command::ip:
    case Command::mask:
        return {"addresses"};
    case Command::gateway:
        return {"gateway4"};
    case Command::dns1:
    case Command::dns2:
        return {"addresses", "nameservers"};
    case Command::mode_setting:
        return {"dhcp4", "addresses", "gateway4", "nameservers"};
    default:
        return {};
    }
}

const std::vector<std::string> daemon_keys = {"dhcp4", "addresses", "gateway4", "nameservers"};

// The line holds x.x.x.x outside a comment.
bool holds_unset_actively(const std::string& line)
{
    const std::size_t at = line.find("x.x.x.x");
    const std::size_t mark = line.find('#');
    return at != std::string::npos && (mark == std::string::npos || mark > at);
}

bool holds_key(const std::string& line, const std::vector<std::string>& keys)
{
    for (const std::string& key : keys) {
        if (line.find(key + ":") != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The line without the '#' marks directly before the first occurrence of
// each key.
std::string without_marks(std::string line, const std::vector<std::string>& keys)
{
    for (const std::string& key : keys) {
        const std::size_t at = line.find(key + ":");
        std::size_t from = at;
        while (at != std::string::npos && from > 0 && line[from - 1] == '#') {
            --from;
        }
        if (at != std::string::npos) {
            line.erase(from, at - from);
        }
    }
    return line;
}

// A line an edit wrote holds the command's own value in the entry's shape.
bool holds_value(Command command, const std::string& line, const std::string& value, uint8_t mode_byte)
{
    switch (command) {
    case Command::ip:
        return line.find("addresses: [" + value + "/") != std::string::npos && ends_with(line, "]");
    case Command::mask: {
        const std::size_t slash = line.rfind('/');
        const std::string bits = slash == std::string::npos ? "" : line.substr(slash + 1);
        return line.find("addresses: ") != std::string::npos && ends_with(bits, "]") && bits.size() >= 2 &&
               bits.size() <= 3 && bits.find_first_not_of("0123456789") == bits.size() - 1 && std::stoi(bits) <= 32;
    }
    case Command::gateway:
        return ends_with(line, "gateway4: " + value);
    case Command::dns1:
        return line.find("addresses: [" + value) != std::string::npos;
    case Command::dns2:
        // The list's head up to its first ',' stays as the file had it.
        return line.find("addresses: ") != std::string::npos && ends_with(line, "," + value + "]");
    case Command::mode_setting:
        return ends_with(line, mode_byte == 0 ? "dhcp4: yes" : "dhcp4: no");
    default:
        return false;
    }
}

void check_changed_line(Command command, const std::string& before, const std::string& after, const std::string& value,
                        uint8_t mode_byte)
{
    if (!holds_key(before, daemon_keys) || !holds_key(after, daemon_keys)) {
        fail("a line without a key of the daemon changed: \"" + before + "\" became \"" + after + "\"");
    }
    if (without_marks(before, daemon_keys) == without_marks(after, daemon_keys)) {
        return;  // commented out or brought back
    }
    if (holds_unset_actively(after)) {
        fail("the placeholder stands in an active line: \"" + after + "\"");
    }
    const bool addressed = holds_key(before, keys_of(command)) && holds_key(after, keys_of(command));
    if (before.find("x.x.x.x") != std::string::npos && !(addressed && holds_value(command, after, value, mode_byte))) {
        return;  // an unset value settled into its form
    }
    if (!addressed || !holds_value(command, after, value, mode_byte)) {
        fail("an edited line does not hold the command's value \"" + value + "\": \"" + before + "\" became \"" +
             after + "\"");
    }
}

void check_edit(Command command, const std::string& before, const std::string& after, const std::string& value,
                uint8_t mode_byte)
{
    const std::vector<std::string> old_lines = segments(before);
    const std::vector<std::string> new_lines = segments(after);
    if (new_lines.size() < old_lines.size() || new_lines.size() > old_lines.size() + 1) {
        fail("an edit removed lines or added more than one");
    }
    for (std::size_t i = 0; i < old_lines.size(); ++i) {
        if (old_lines[i] != new_lines[i]) {
            check_changed_line(command, old_lines[i], new_lines[i], value, mode_byte);
        }
    }
    if (new_lines.size() > old_lines.size() && !new_lines.back().empty()) {
        fail("a line was added: \"" + new_lines.back() + "\"");
    }
}

bool value_accepted(Command command, const std::string& value)
{
    if (command == Command::mask) {
        return is_mask(value);
    }
    return is_dotted_quad(value);
}

void check_command(Command command, const FileState& before, const FileState& after, const std::string& value,
                   uint8_t mode_byte)
{
    const std::string generate = std::string("netplan generate --root-dir ") + netplan_generate_folder + "/generate-";
    std::string previous;
    for (const std::string& cmd : nk_fuzz::take_commands()) {
        if (cmd == "netplan apply" ? previous.rfind(generate, 0) != 0 : cmd.rfind(generate, 0) != 0) {
            fail("unexpected command line: \"" + cmd + "\"");
        }
        previous = cmd;
    }
    if (command == Command::mode_command) {
        return;  // deletes the file or changes nothing
    }
    const bool value_command = command != Command::mode_setting && command != Command::apply;
    if (value_command && !value_accepted(command, value)) {
        if (after.exists != before.exists || after.text != before.text) {
            fail("a refused value \"" + value + "\" changed the file");
        }
        return;
    }
    // A missing file is first written from the template of the mode.
    const std::string base = before.exists ? before.text
                                           : (network_mode == NETWORK_MODE::STATIC ? netplan_static_default_config
                                                                                   : netplan_dhcp_default_config);
    if (!after.exists) {
        fail("the netplan file disappeared");
    }
    if (before.exists && before.text.size() > config_file_cap) {
        if (after.text != before.text) {
            fail("a file over the cap was changed");
        }
        return;
    }
    if (after.text.size() > config_file_cap) {
        fail("the netplan file passed the cap: " + std::to_string(after.text.size()) + " bytes");
    }
    if (command == Command::apply) {
        if (after.text != base) {
            fail("apply changed the file");
        }
        return;
    }
    check_edit(command, base, after.text, value, mode_byte);
}

// A value text: mostly an address or a mask built from four bytes, which
// the checks accept, else arbitrary text.
std::string value_text(FuzzedDataProvider& in, Command command)
{
    if (in.ConsumeBool()) {
        return in.ConsumeRandomLengthString(24);
    }
    const int parts = command == Command::mask && in.ConsumeBool() ? 3 : 4;
    std::string text;
    for (int i = 0; i < parts; ++i) {
        text += (i > 0 ? "." : "") + std::to_string(in.ConsumeIntegral<uint8_t>());
    }
    return text;
}

// The seeded file: the input's text, optionally behind a comment block that
// brings it just under or just over the cap.
std::string seeded_text(FuzzedDataProvider& in)
{
    const bool near_cap = in.ConsumeBool();
    const std::size_t slack = in.ConsumeIntegralInRange<std::size_t>(0, 48);
    std::string text = in.ConsumeRandomLengthString(4096);
    const std::size_t wanted = config_file_cap + 8 - slack;
    if (near_cap && text.size() + 2 < wanted) {
        text.insert(0, "#" + std::string(wanted - text.size() - 2, '-') + "\n");
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    network_mode = in.ConsumeBool() ? NETWORK_MODE::STATIC : NETWORK_MODE::DHCP;
    const int commands = in.ConsumeIntegralInRange<int>(1, max_commands_per_input);
    const std::string seed = seeded_text(in);
    {
        std::ofstream out(netplan_config_path, std::ios::binary | std::ios::trunc);
        out << seed;
    }
    nk_fuzz::take_commands();
    for (int i = 0; i < commands; ++i) {
        const auto command = static_cast<Command>(in.ConsumeIntegralInRange<int>(0, 7));
        const FileState before = read_netplan();
        std::string value;
        uint8_t mode_byte = 0;
        bool (*const setters[])(char*) = {set_Config_IP_Address, set_Config_Gateway, set_Config_Subnetmask,
                                          set_Config_Dns1, set_Config_Dns2};
        switch (command) {
        case Command::mode_setting: {
            mode_byte = in.ConsumeIntegral<uint8_t>();
            const char text[1] = {static_cast<char>(mode_byte)};
            set_Network_Config_Data(NETWORK_CONFIG_TYPE::MODE, text);
            break;
        }
        case Command::apply:
            run_Apply();
            break;
        case Command::mode_command:
            set_Network_Mode(in.ConsumeIntegral<uint8_t>());
            break;
        default: {
            value = value_text(in, command);
            // Exactly the text and its NUL on the heap, so that a read past
            // the end is caught.
            std::vector<char> buffer(value.c_str(), value.c_str() + value.size() + 1);
            const bool static_only = command == Command::ip || command == Command::gateway || command == Command::mask;
            const NETWORK_MODE mode = network_mode;
            setters[static_cast<int>(command)](buffer.data());
            if (static_only && mode == NETWORK_MODE::DHCP) {
                value = "\x01 refused in DHCP mode";  // no value is accepted then
            }
            value = value.c_str();
            break;
        }
        }
        check_command(command, before, read_netplan(), value, mode_byte);
    }
    return 0;
}
