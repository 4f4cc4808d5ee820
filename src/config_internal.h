// Private interface of module config, shared by its source files (and read
// by the tests and fuzz targets of the module).
//
// The functions with the fixed names (config.h) are thin: each passes its
// platform path to one of the functions below, which take the path as a
// parameter, so that a test can run them on a file in a folder of its own.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

#include "config.h"
#include "fd_holder.h"
#include "platform_paths.h"

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

// ---------------------------------------------------------------------------
// Line-oriented key/value editor and command runner (config_store.cpp)
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

// Runs cmd through a shell pipe; when result is given, leaves the last line
// of the output in it (at most size - 1 bytes, NUL-terminated). 0 when the
// command could be started, -1 when not (reported with perror).
int8_t set_Command(const char* cmd, char* result, int size);

// ---------------------------------------------------------------------------
// Netplan file and network commands on the file at `path`
// ---------------------------------------------------------------------------

// Addressing mode the daemon assumes; DHCP at every start.
extern NETWORK_MODE network_mode;

// init_netplan_config, get_Network_Config_Data, set_Network_Config_Data and
// set_Network_Config_Apply on `path`. Each reads the file once and writes
// it at most once; a missing file is written from the template of the mode.
void write_netplan_template(const char* path);
uint8_t get_netplan_setting(const char* path, NETWORK_CONFIG_TYPE type, char* str);
uint8_t set_netplan_setting(const char* path, NETWORK_CONFIG_TYPE type, const char* str);
bool apply_netplan(const char* path);

// The mode command ("rm <path>" on a change) and the value commands of the
// BMC on `path`; refusals are logged under `caller`.
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
