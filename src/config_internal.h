// Private interface of module config, shared by its source files (and read
// by the tests and fuzz targets of the module).
//
// The functions with the fixed names (config.h) are thin: each passes its
// platform path to one of the functions below, which take the path as a
// parameter, so that a test can run them on a file in a folder of its own.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "config.h"
#include "fd_holder.h"
#include "platform_paths.h"
#include "program_runner.h"

// The netplan file (netplan_config_path points here).
constexpr char netplan_file_path[] = NK_PLATFORM_PATH("/etc/netplan/99-netcfg.yaml");
// Mode of a netplan file the daemon creates: netplan warns about anything
// more open.
constexpr mode_t netplan_file_mode = 0600;

// Largest file the store reads, and largest content it writes.
constexpr std::size_t config_file_cap = 64 * 1024;

// ---------------------------------------------------------------------------
// Files of the store
// ---------------------------------------------------------------------------

// One target file of the store, for one read and at most one replacement.
// A symbolic link is followed once, when the holder is made; from then on
// the folder of the file it names is held open and the file is opened and
// replaced relative to that folder (O_NOFOLLOW), so that a path swapped in
// between cannot redirect the read or the write. Only a regular file of at
// most config_file_cap bytes is read or replaced: anything else (device,
// FIFO, socket, folder, larger file, link that cannot be followed) is
// refused with one "[ERROR] <caller>: <path> <reason>; <outcome>" line, and
// nothing is written. Opening never blocks (O_NONBLOCK, type checked before
// reading). A holder made with caller nullptr logs nothing: --check words
// the refusal (refusal()) in its own line.
class Config_File {
public:
    Config_File(const char* path, const char* caller, const char* outcome = "left untouched");
    Config_File(const Config_File&) = delete;
    Config_File& operator=(const Config_File&) = delete;

    // Reads the whole file into content(). False when it is missing
    // (missing() then true, nothing logged) or refused (logged).
    bool read();
    bool missing() const { return missing_; }
    const std::string& content() const { return content_; }

    // Replaces the file with `content`: a temporary file beside it, flushed
    // and renamed over it, then the folder flushed. An existing file keeps
    // its owner (where the process may) and permission bits; a new one gets
    // new_file_mode less the umask. False (logged, file unchanged) when the
    // content passes the cap, when the name now holds anything but a
    // regular file, or on any failure of the write.
    bool replace(std::string_view content, mode_t new_file_mode);

    // Why the last read() or replace() refused the file; empty when neither
    // did.
    const std::string& refusal() const { return refusal_; }

private:
    bool refuse(const std::string& reason);

    std::string path_;
    const char* caller_;
    const char* outcome_;
    std::string open_error_;  // why the folder could not be opened
    std::optional<Fd_Holder> folder_;
    std::string name_;
    std::string content_;
    std::string refusal_;
    bool missing_ = false;
};

// Removes the file at `path` as rm would, without a shell: a regular file,
// or a symbolic link to one (the link goes, the file it names stays). A
// link to anything else (or to nothing), a device, FIFO, socket or folder
// stays, with one "[ERROR] <caller>: <path> <reason>; left in place" line;
// so does a file that cannot be removed. A missing file is no error and
// logs nothing. True when nothing is left at `path`.
bool remove_config_file(const char* path, const char* caller);

// Writes all of data to fd (a write cut short is continued); false with
// errno set on a failure.
bool write_all(int fd, const char* data, std::size_t size);
// The system's text of an errno value.
std::string error_text(int error);

// ---------------------------------------------------------------------------
// Line-oriented key/value editor (config_store.cpp)
// ---------------------------------------------------------------------------

// get_Config_Data writes at most caller_buffer_size bytes into buffer.
// set_Config_Data: 0 a line was replaced, 1 the target was not both
// readable and writable and no file could be generated for it, 2 the entry
// was appended or the target could not be read (missing or refused), 3 the
// new content could not be written (the target keeps its old content).
uint8_t get_Config_Data(const char* file_name, const char* name, char* buffer, char token, const char* ignore_str,
                        bool ignore_comment_flag);
uint8_t set_Config_Data(const char* file_name, const char* name, const char* data, char token, const char* ignore_str);
uint8_t set_Config_Data_Comment(const char* file_name, const char* name, bool set_comment, char token,
                                const char* ignore_str);
bool set_Config_File_Generate();

// ---------------------------------------------------------------------------
// Programs the module runs (through program_runner.h) and their deadlines
// ---------------------------------------------------------------------------

// The service manager's watchdog limit (WatchdogSec= of the unit): the
// BMC link may wait for netplan generate and netplan apply, one after the
// other, ended at their deadlines, within it.
constexpr std::chrono::seconds service_watchdog_limit{60};
constexpr std::chrono::seconds netplan_generate_deadline{10};
constexpr std::chrono::seconds netplan_apply_deadline{40};
static_assert(netplan_generate_deadline + netplan_apply_deadline + 2 * program_term_grace < service_watchdog_limit,
              "the link's longest wait stays under the watchdog limit");
// Its D-Bus call can take 25 s while systemd-hostnamed starts.
constexpr std::chrono::seconds hostnamectl_deadline{30};
constexpr std::chrono::seconds lsb_release_deadline{10};
// A command line run through set_Command.
constexpr std::chrono::seconds command_line_deadline{30};

// Runs cmd with "sh -c" (a command line for a shell; the daemon's own
// programs never go through here); when result is given, leaves the last
// line of the output in it as fgets would (at most size - 1 bytes,
// NUL-terminated). 0 when the command could be started, -1 when not
// (logged). Its exit status is not looked at.
int8_t set_Command(const char* cmd, char* result, int size);

// ---------------------------------------------------------------------------
// netplan generate as the judge of a netplan file (config_netplan_generate.cpp)
// ---------------------------------------------------------------------------

// The daemon's own folder for the private root folders of netplan generate:
// on /run, a tmpfs (nothing is left after a reboot, nothing is written to
// the node's flash) that the service unit keeps writable
// (ReadWritePaths=/run). Never taken from TMPDIR.
constexpr char netplan_generate_folder[] = NK_PLATFORM_PATH("/run/nodekeeper");

struct Generate_Options {
    const char* folder = netplan_generate_folder;
    std::chrono::milliseconds deadline = netplan_generate_deadline;
    std::chrono::milliseconds term_grace = program_term_grace;
    // When given, a non-zero value ends netplan generate (see Program_Call).
    const volatile sig_atomic_t* interrupt = nullptr;
};

enum class Netplan_Judgement : uint8_t { ACCEPTED, REJECTED, NOT_RUN };

struct Netplan_Verdict {
    Netplan_Judgement judgement = Netplan_Judgement::NOT_RUN;
    // REJECTED: netplan's message (choose_program_message), the copy's path
    // shown as the node's netplan file; NOT_RUN: why netplan did not judge.
    std::string message;
    int exit_status = 0;  // REJECTED: netplan generate's exit status
};

// Writes `text` as the netplan file into a fresh private root folder under
// options.folder (made and checked first: a real folder of the process's
// user that no one else may write), runs "netplan generate --root-dir
// <root>" on it, and removes the root folder again (also when netplan was
// interrupted). Logs nothing.
Netplan_Verdict run_netplan_generate(const std::string& text, const Generate_Options& options = Generate_Options());

// ---------------------------------------------------------------------------
// Netplan file and network commands on the file at `path`
// ---------------------------------------------------------------------------

// Addressing mode the daemon assumes; DHCP at every start.
extern NETWORK_MODE network_mode;

// init_netplan_config, get_Network_Config_Data, set_Network_Config_Data and
// set_Network_Config_Apply on `path`. Each reads the file once and writes
// it at most once; a missing file is written from the template of the mode.
// apply_netplan runs "netplan apply" only on a file that gives a statically
// addressed interface an address and that netplan generate accepts; every
// refusal and failure is one "[ERROR] <caller>: ..." line.
void write_netplan_template(const char* path);
uint8_t get_netplan_setting(const char* path, NETWORK_CONFIG_TYPE type, char* str);
uint8_t set_netplan_setting(const char* path, NETWORK_CONFIG_TYPE type, const char* str);
bool apply_netplan(const char* path, const char* caller);

// The mode command (the file removed on a change) and the value commands of
// the BMC on `path`; refusals are logged under `caller`.
bool set_network_mode(const char* path, uint8_t mode);
bool set_network_value(const char* path, const char* caller, NETWORK_CONFIG_TYPE type, const char* buffer);

// Logs that the command `caller` failed with `what` and was not carried out.
void log_command_failure(const char* caller, const char* what);

// Runs one network command so that nothing it throws reaches the link
// thread: a failure is one "[ERROR] <caller>: ..." line and false.
template <typename Command>
bool run_network_command(const char* caller, Command command) noexcept
{
    try {
        return command();
    } catch (const std::exception& e) {
        log_command_failure(caller, e.what());
    } catch (...) {
        log_command_failure(caller, "unknown failure");
    }
    return false;
}

// ---------------------------------------------------------------------------
// Texts from outside, parsed apart from their I/O
// ---------------------------------------------------------------------------

// The kernel's routing table.
constexpr char route_table_path[] = NK_PLATFORM_PATH("/proc/net/route");

// Default-address tracking on the routing table at `route_table`.
bool update_default_ip_address(const char* route_table);
// True when a routing table line is a route with an all-zero field; then
// `if_name` receives the interface name (the text before the first TAB).
bool parse_route_interface(const char* line, std::string& if_name);

enum class Route_Lookup : uint8_t { FOUND, NO_ROUTE, UNREADABLE };
// The interface of the default route: the first line of the routing table
// at `route_table` that parse_route_interface takes. UNREADABLE: the table
// could not be opened (errno set).
Route_Lookup find_default_route(const char* route_table, std::string& if_name);
// The IPv4 address of the interface, dotted. 0, or the errno of the failed
// request; the address is then "0.0.0.0".
int find_interface_address(const char* if_name, std::string& address);

// The description in an output line of "lsb_release -d" (a label, a TAB
// and the description): the text behind the first TAB, without line end.
// The line is cut in place. nullptr when the line holds no TAB.
const char* parse_os_description(char* line);
// "lsb_release -d" as the daemon runs it for the OS description.
extern const Program_Call lsb_release_call;
// Runs lsb_release_call into run; the description from the last line of its
// output (as much of it as a command buffer holds), nullopt when it failed
// or printed none.
std::optional<std::string> run_lsb_release(Program_Result& run);

// The operating system's own description, read when lsb_release gives none
// (a minimal system has no lsb_release): PRETTY_NAME of os-release, the
// second file read when the first is missing.
constexpr char os_release_path[] = NK_PLATFORM_PATH("/etc/os-release");
constexpr char os_release_fallback_path[] = NK_PLATFORM_PATH("/usr/lib/os-release");
// The value of PRETTY_NAME in an os-release text, its quotes and escapes
// undone; nullopt when the text holds none or an empty one.
std::optional<std::string> parse_os_release_name(std::string_view text);
// PRETTY_NAME of the first of the two files that can be read.
std::optional<std::string> read_os_release_name(const char* os_release, const char* os_release_fallback);
// get_Config_OS_Info with the os-release files given.
int read_os_description(char* buffer, const char* os_release, const char* os_release_fallback);

// The EEPROM window of physical memory that holds the serial-number record.
constexpr char eeprom_path[] = NK_PLATFORM_PATH("/dev/mem");
constexpr off_t eeprom_window_address = 0x10000000;
constexpr std::size_t eeprom_window_length = 512;
constexpr uint32_t serial_record_address = 80;
constexpr uint8_t serial_record_code = 85;  // 'U'
static_assert(serial_record_address < eeprom_window_length, "record lies inside the window");

// Read-only private mapping of the EEPROM window; unmapped and closed when
// the holder goes. Nothing is logged here.
class Eeprom_Window {
public:
    Eeprom_Window();
    ~Eeprom_Window();
    Eeprom_Window(const Eeprom_Window&) = delete;
    Eeprom_Window& operator=(const Eeprom_Window&) = delete;

    // The window's eeprom_window_length bytes, or nullptr when it could not
    // be mapped: then open_failed() tells whether opening eeprom_path or the
    // mapping failed, and error() holds the errno of the failed call.
    const uint8_t* bytes() const { return bytes_; }
    bool open_failed() const { return open_failed_; }
    int error() const { return error_; }

private:
    Fd_Holder fd_;
    const uint8_t* bytes_ = nullptr;
    bool open_failed_ = false;
    int error_ = 0;
};

// Copies the text of the record at window offset `address` whose first byte
// is `code` (ending at its NUL or at the window's end) into buffer, cut to
// buffer_length - 1 characters and terminated; "N/A" when `window` is
// nullptr or the code does not match. Returns the length placed.
unsigned int copy_eeprom_record(const uint8_t* window, uint32_t address, uint8_t code, char* buffer,
                                unsigned int buffer_length);
