// Commands of bmc-sim; see bmc_sim_commands.h.
#include "bmc_sim_commands.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

namespace bmc_sim {
namespace {

using vboard::Bytes;
using vboard::VirtualBoard;

const char* const help_text[] = {
    "help mode static|dhcp    queue the network mode command (static 0, dhcp 1)",
    "help ip A | netmask M | gateway G | dns1 D | dns2 D | hostname H",
    "help                     queue that network command (a text with its NUL)",
    "help apply               queue the apply command",
    "help raw <hex bytes>     queue any frame, e.g. raw 05 00 05 0e 06",
    "help temp MILLIDEG|DEG   set the board temperature (45500 or 45.5)",
    "help netplan             print <prefix>/etc/netplan/99-netcfg.yaml",
    "help fail N              the next N writes of the node are NACKed",
    "help drop on|off         take the BMC off the bus or put it back",
    "help stall MS            each BMC transaction waits MS milliseconds",
    "help gpio off|on         take the GPIO controller away (its lines go, as unloaded) or back",
    "help serial TEXT         set the serial number in the EEPROM window",
    "help status              pending frames, attention line, frames received, reads of the line",
    "help wait delivered [MS] until the node has read every pending frame (default 5000 ms)",
    "help wait frames N [MS]  until the node has sent N frames in all",
    "help quit                unmount and exit",
    "help output: 'frame ...' for each frame the node sends",
};

std::string strip(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) {
        return "";
    }
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

Answer ok(const std::string& what) { return Answer{{"ok " + what}, false}; }
Answer error(const std::string& what) { return Answer{{"error " + what}, false}; }

Answer queue(VirtualBoard& board, const Bytes& frame)
{
    board.queue_bmc_frame(frame);
    return ok("queued " + frame_line(frame));
}

bool parse_unsigned(const std::string& text, unsigned long* value)
{
    char* end = nullptr;
    *value = std::strtoul(text.c_str(), &end, 10);
    return !text.empty() && *end == '\0' && text[0] != '-';
}

// "delivered [MS]" or "frames N [MS]": blocks up to MS milliseconds.
Answer wait(VirtualBoard& board, const std::string& arg)
{
    constexpr unsigned long default_wait_ms = 5000;
    std::istringstream words(arg);
    std::string what;
    std::string count_text;
    std::string ms_text;
    words >> what;
    if (what == "frames") {
        words >> count_text;
    }
    words >> ms_text;
    unsigned long count = 0;
    unsigned long ms = default_wait_ms;
    const bool valid = (what == "delivered" || (what == "frames" && parse_unsigned(count_text, &count))) &&
                       (ms_text.empty() || parse_unsigned(ms_text, &ms)) && words.eof();
    if (!valid) {
        return error("wait delivered [MS] | wait frames N [MS]");
    }
    const auto timeout = std::chrono::milliseconds(ms);
    if (what == "frames" ? board.wait_received(count, timeout) : board.wait_delivered(timeout)) {
        return ok("wait " + arg);
    }
    return error("timed out: wait " + arg);
}

Answer netplan(VirtualBoard& board)
{
    const std::string path = board.prefix() + "/etc/netplan/99-netcfg.yaml";
    std::ifstream in(path);
    if (!in) {
        return error("no file " + path);
    }
    Answer answer;
    for (std::string line; std::getline(in, line);) {
        answer.lines.push_back("netplan " + line);
    }
    answer.lines.push_back("ok netplan");
    return answer;
}

using Handler = std::function<Answer(VirtualBoard&, const std::string&)>;

// A command that takes "on" or "off" and hands set() whether it was "on".
Handler on_off_command(const std::string& name, void (*set)(VirtualBoard&, bool on))
{
    return [name, set](VirtualBoard& board, const std::string& arg) {
        if (arg != "on" && arg != "off") {
            return error(name + " on|off");
        }
        set(board, arg == "on");
        return ok(name + " " + arg);
    };
}

Handler text_command(Bytes (*build)(const std::string&))
{
    return [build](VirtualBoard& board, const std::string& arg) {
        return arg.empty() ? error("missing argument") : queue(board, build(arg));
    };
}

const std::map<std::string, Handler>& handlers()
{
    static const std::map<std::string, Handler> table = {
        {"mode",
         [](VirtualBoard& board, const std::string& arg) {
             if (arg != "static" && arg != "dhcp") {
                 return error("mode static|dhcp");
             }
             return queue(board, vboard::network_mode_frame(arg == "static" ? vboard::network_mode_static
                                                                            : vboard::network_mode_dhcp));
         }},
        {"ip", text_command(vboard::network_ip_frame)},
        {"netmask", text_command(vboard::network_netmask_frame)},
        {"gateway", text_command(vboard::network_gateway_frame)},
        {"dns1", text_command(vboard::network_dns1_frame)},
        {"dns2", text_command(vboard::network_dns2_frame)},
        {"hostname", text_command(vboard::network_hostname_frame)},
        {"apply", [](VirtualBoard& board, const std::string&) { return queue(board, vboard::network_apply_frame()); }},
        {"raw",
         [](VirtualBoard& board, const std::string& arg) {
             Bytes frame;
             if (!vboard::parse_hex_bytes(arg, &frame) || frame.empty() || frame.size() > 256) {
                 return error("raw needs 1 to 256 hex bytes");
             }
             return queue(board, frame);
         }},
        {"temp",
         [](VirtualBoard& board, const std::string& arg) {
             int millidegrees = 0;
             if (!parse_temperature(arg, &millidegrees)) {
                 return error("temp MILLIDEG or DEG");
             }
             board.set_temperature(millidegrees);
             return ok("temp " + std::to_string(millidegrees));
         }},
        {"netplan", [](VirtualBoard& board, const std::string&) { return netplan(board); }},
        {"fail",
         [](VirtualBoard& board, const std::string& arg) {
             unsigned long n = 0;
             if (!parse_unsigned(arg, &n)) {
                 return error("fail N");
             }
             board.fail_next_writes(static_cast<unsigned>(n));
             return ok("fail " + std::to_string(n));
         }},
        {"drop", on_off_command("drop", [](VirtualBoard& board, bool on) { board.set_bmc_present(!on); })},
        {"gpio", on_off_command("gpio", [](VirtualBoard& board, bool on) { board.set_gpio_controller_present(on); })},
        {"stall",
         [](VirtualBoard& board, const std::string& arg) {
             unsigned long ms = 0;
             if (!parse_unsigned(arg, &ms)) {
                 return error("stall MS");
             }
             board.set_stall(std::chrono::milliseconds(ms));
             return ok("stall " + std::to_string(ms));
         }},
        {"serial",
         [](VirtualBoard& board, const std::string& arg) {
             board.set_serial(arg);
             return ok("serial " + arg);
         }},
        {"status",
         [](VirtualBoard& board, const std::string&) {
             return ok("pending=" + std::to_string(board.pending_frames()) +
                       " line=" + (board.attention_line_high() ? "1" : "0") +
                       " received=" + std::to_string(board.received_frames().size()) +
                       " line_reads=" + std::to_string(board.attention_reads()));
         }},
        {"wait", wait},
        {"help",
         [](VirtualBoard&, const std::string&) {
             Answer answer{std::vector<std::string>(std::begin(help_text), std::end(help_text)), false};
             answer.lines.push_back("ok help");
             return answer;
         }},
        {"quit",
         [](VirtualBoard&, const std::string&) {
             return Answer{{"ok quit"}, true};
         }},
    };
    return table;
}

}  // namespace

std::string frame_line(const Bytes& raw)
{
    std::string hex = vboard::hex_bytes(raw);
    hex.erase(std::remove(hex.begin(), hex.end(), ' '), hex.end());
    return vboard::decode_frame(raw).line() + " raw=" + hex;
}

bool parse_temperature(const std::string& text, int* millidegrees)
{
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value) || std::fabs(value) > 1e6) {
        return false;
    }
    const bool degrees = text.find('.') != std::string::npos || std::fabs(value) < 1000;
    *millidegrees = static_cast<int>(std::lround(degrees ? value * 1000 : value));
    return true;
}

bool parse_sensor_set(const std::string& text, vboard::SensorSet* set)
{
    static const std::map<std::string, vboard::SensorSet> names = {{"4c", vboard::SENSOR_4C},
                                                                   {"4d", vboard::SENSOR_4D},
                                                                   {"both", vboard::SENSOR_BOTH},
                                                                   {"none", vboard::SENSOR_NONE}};
    const auto it = names.find(text);
    if (it == names.end()) {
        return false;
    }
    *set = it->second;
    return true;
}

Answer run_command(VirtualBoard& board, const std::string& input)
{
    const std::string line = strip(input);
    if (line.empty()) {
        return Answer{};
    }
    const size_t blank = line.find_first_of(" \t");
    const std::string name = line.substr(0, blank);
    const std::string arg = blank == std::string::npos ? "" : strip(line.substr(blank));
    const auto it = handlers().find(name);
    if (it == handlers().end()) {
        return error("unknown command '" + name + "' (try help)");
    }
    try {
        return it->second(board, arg);
    } catch (const std::invalid_argument& e) {
        return error(e.what());
    }
}

}  // namespace bmc_sim
