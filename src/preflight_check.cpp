#include "preflight_check.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <net/if.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "config_internal.h"
#include "fd_holder.h"
#include "platform_paths.h"

namespace {

// Each path as the node names it (shown) and as this build opens it.
struct Node_Path {
    const char* shown;
    const char* opened;
};
#define NODE_PATH(path) Node_Path{path, NK_PLATFORM_PATH(path)}

const Node_Path i2c_bus = NODE_PATH("/dev/i2c-0");
// The same path formats as the GPIO and sensor modules use.
const char* const gpio_dir_format = NK_PLATFORM_PATH("/sys/class/gpio/gpio%d");
const char* const hwmon_dir_format = NK_PLATFORM_PATH("/sys/class/i2c-adapter/i2c-%d/%d-00%2x/hwmon");
constexpr int attention_gpio = 480;
constexpr int sensor_adapter = 0;
const Node_Path eeprom = NODE_PATH("/dev/mem");
const Node_Path route_table = NODE_PATH("/proc/net/route");
// The store's netplan file, shown without the platform prefix.
const Node_Path netplan_file = {netplan_file_path + platform::sysroot_length, netplan_file_path};

constexpr int bmc_address = 0x08;
constexpr int sensor_addresses[] = {0x4c, 0x4d};
constexpr off_t eeprom_window_address = 0x10000000;
constexpr size_t eeprom_window_length = 512;
constexpr size_t serial_record_offset = 80;
constexpr uint8_t serial_record_code = 85;

struct Check_Run {
    FILE* out;
    bool failed = false;
    int bus = -1;  // descriptor of the bus, -1 when it did not open

    void pass(const char* what, const std::string& detail) { fprintf(out, "OK   %s: %s\n", what, detail.c_str()); }
    void fail(const char* what, const std::string& error, const char* hint)
    {
        fprintf(out, "FAIL %s: %s; hint: %s\n", what, error.c_str(), hint);
        failed = true;
    }
};

std::string error_text(int error) { return strerror(error); }

// Reads a small attribute file; false with errno set when it cannot.
bool read_small_file(const std::string& path, std::string& text)
{
    Fd_Holder fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return false;
    }
    char buffer[256];
    const ssize_t n = pread(fd.get(), buffer, sizeof buffer - 1, 0);
    if (n < 0) {
        return false;
    }
    text.assign(buffer, static_cast<size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) {
        text.pop_back();
    }
    return true;
}

// An SMBus quick write at address: 0 when a device acknowledged, else -errno.
int probe_address(int bus, int address)
{
    if (ioctl(bus, I2C_SLAVE, address) < 0) {
        return -errno;
    }
    struct i2c_smbus_ioctl_data args;
    memset(&args, 0, sizeof args);
    args.read_write = I2C_SMBUS_WRITE;
    args.command = 0;
    args.size = I2C_SMBUS_QUICK;
    args.data = nullptr;
    return ioctl(bus, I2C_SMBUS, &args) < 0 ? -errno : 0;
}

std::string hex_address(int address)
{
    char text[8];
    snprintf(text, sizeof text, "0x%02x", address);
    return text;
}

void check_bus(Check_Run& run)
{
    run.bus = open(i2c_bus.opened, O_RDWR | O_CLOEXEC);
    if (run.bus < 0) {
        run.fail(i2c_bus.shown, error_text(errno),
                 errno == EACCES ? "run as root" : "is the i2c-dev module loaded (modprobe i2c-dev)?");
        return;
    }
    run.pass(i2c_bus.shown, "opens");
}

void check_bmc(Check_Run& run)
{
    const char* what = "BMC at 0x08";
    if (run.bus < 0) {
        run.fail(what, "not probed", "the bus did not open (see above)");
        return;
    }
    const int result = probe_address(run.bus, bmc_address);
    if (result != 0) {
        run.fail(what, error_text(-result),
                 result == -EBUSY ? "a kernel driver claims 0x08"
                                  : "is the BMC powered and the cable seated? i2cdetect -y 0 should show 08");
        return;
    }
    run.pass(what, "acknowledges");
}

void check_attention_line(Check_Run& run)
{
    const char* what = "GPIO 480 (attention line)";
    char gpio_dir[platform::platform_buffer(64)];
    snprintf(gpio_dir, sizeof gpio_dir, gpio_dir_format, attention_gpio);
    struct stat status;
    if (stat(gpio_dir, &status) != 0) {
        if (errno == ENOENT) {
            run.pass(what, "not exported (the daemon exports it at start)");
        } else {
            run.fail(what, error_text(errno), "is sysfs mounted?");
        }
        return;
    }
    std::string value;
    std::string edge;
    if (!read_small_file(std::string(gpio_dir) + "/value", value) ||
        !read_small_file(std::string(gpio_dir) + "/edge", edge)) {
        run.fail(what, error_text(errno), "the line is exported but its attributes cannot be read");
        return;
    }
    run.pass(what, "value " + value + ", edge " + edge + (value == "0" ? " (the BMC holds a frame)" : ""));
}

// The temperature through a bound driver's hwmon file; false when no driver
// is bound at address.
bool check_bound_sensor(Check_Run& run, const char* what, int address)
{
    char hwmon[platform::platform_buffer(64)];
    snprintf(hwmon, sizeof hwmon, hwmon_dir_format, sensor_adapter, sensor_adapter, address);
    const std::string parent = hwmon;
    DIR* dir = opendir(parent.c_str());
    if (dir == nullptr) {
        return false;
    }
    std::string name;
    while (const struct dirent* entry = readdir(dir)) {
        if (strncmp(entry->d_name, "hwmon", 5) == 0) {
            name = entry->d_name;
            break;
        }
    }
    closedir(dir);
    if (name.empty()) {
        return false;
    }
    std::string millidegrees;
    if (!read_small_file(parent + "/" + name + "/temp2_input", millidegrees)) {
        run.fail(what, error_text(errno), "the driver is bound but its temp2_input cannot be read");
        return true;
    }
    char detail[128];
    snprintf(detail, sizeof detail, "%s, driver bound (%s), %.3f degrees Celsius", hex_address(address).c_str(),
             name.c_str(), atoi(millidegrees.c_str()) / 1000.0);
    run.pass(what, detail);
    return true;
}

void check_sensor(Check_Run& run)
{
    const char* what = "temperature sensor";
    for (const int address : sensor_addresses) {
        if (check_bound_sensor(run, what, address)) {
            return;
        }
    }
    // No driver: a probe cannot disturb a driver's transfers.
    if (run.bus < 0) {
        run.fail(what, "not probed", "the bus did not open (see above)");
        return;
    }
    int result = 0;
    for (const int address : sensor_addresses) {
        result = probe_address(run.bus, address);
        if (result == 0) {
            run.pass(what, "answers at " + hex_address(address) + ", no driver bound (the daemon binds it at start)");
            return;
        }
    }
    run.fail(what, "no answer at 0x4c or 0x4d: " + error_text(-result),
             "without the sensor the daemon reports no temperature; i2cdetect -y 0 should show 4c or 4d");
}

void check_serial_number(Check_Run& run)
{
    const char* what = "serial number (EEPROM window)";
    Fd_Holder fd(open(eeprom.opened, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        run.fail(what, std::string(eeprom.shown) + ": " + error_text(errno), "run as root");
        return;
    }
    void* map = mmap(nullptr, eeprom_window_length, PROT_READ, MAP_PRIVATE, fd.get(), eeprom_window_address);
    if (map == MAP_FAILED) {
        run.fail(what, "mapping 0x10000000: " + error_text(errno),
                 "does the kernel allow /dev/mem at that address (CONFIG_STRICT_DEVMEM)?");
        return;
    }
    const uint8_t* window = static_cast<const uint8_t*>(map);
    if (window[serial_record_offset] != serial_record_code) {
        char error[96];
        snprintf(error, sizeof error, "no serial record at 0x10000050 (code %u, expected %u)",
                 window[serial_record_offset], serial_record_code);
        run.fail(what, error, "is the EEPROM programmed? the daemon reports \"N/A\"");
    } else {
        const char* text = reinterpret_cast<const char*>(window + serial_record_offset + 1);
        run.pass(what, std::string(text, strnlen(text, eeprom_window_length - serial_record_offset - 1)));
    }
    munmap(map, eeprom_window_length);
}

// The interface of the first all-zero destination in the routing table.
bool find_default_route(FILE* table, std::string& interface)
{
    char line[256];
    while (fgets(line, sizeof line, table) != nullptr) {
        char name[IFNAMSIZ + 1] = {};
        char destination[16] = {};
        if (sscanf(line, "%16s %15s", name, destination) == 2 && strcmp(destination, "00000000") == 0) {
            interface = name;
            return true;
        }
    }
    return false;
}

void check_default_address(Check_Run& run)
{
    const char* what = "default route and address";
    FILE* table = fopen(route_table.opened, "re");
    if (table == nullptr) {
        run.fail(what, std::string(route_table.shown) + ": " + error_text(errno), "is procfs mounted?");
        return;
    }
    std::string interface;
    const bool found = find_default_route(table, interface);
    fclose(table);
    if (!found) {
        run.fail(what, "no default route", "see ip route and the netplan file; the daemon reports 0.0.0.0");
        return;
    }
    struct ifreq request;
    memset(&request, 0, sizeof request);
    strncpy(request.ifr_name, interface.c_str(), IFNAMSIZ - 1);
    request.ifr_addr.sa_family = AF_INET;
    Fd_Holder sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (sock.get() < 0 || ioctl(sock.get(), SIOCGIFADDR, &request) < 0) {
        run.fail(what, "route via " + interface + ", no IPv4 address: " + error_text(errno),
                 "see ip address; the daemon reports 0.0.0.0");
        return;
    }
    struct sockaddr_in address;
    memcpy(&address, &request.ifr_addr, sizeof address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    run.pass(what, "via " + interface + ", " + text);
}

// Runs a command through the shell; its last output line and exit status.
int run_command(const std::string& command, std::string& last_line)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "re");
    if (pipe == nullptr) {
        last_line = error_text(errno);
        return -1;
    }
    char line[256];
    while (fgets(line, sizeof line, pipe) != nullptr) {
        if (line[0] != '\0' && line[0] != '\n') {
            last_line = line;
        }
    }
    while (!last_line.empty() && last_line.back() == '\n') {
        last_line.pop_back();
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void check_os_description(Check_Run& run)
{
    const char* what = "lsb_release -d";
    std::string line;
    const int status = run_command("lsb_release -d", line);
    const size_t tab = line.find('\t');
    if (status != 0 || tab == std::string::npos) {
        run.fail(what, line.empty() ? "no output (exit status " + std::to_string(status) + ")" : line,
                 "is lsb-release installed? the BMC gets the OS description from it");
        return;
    }
    run.pass(what, line.substr(tab + 1));
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// "netplan generate" on a private copy of the file's text.
void check_netplan_generate(Check_Run& run, const std::string& text)
{
    const char* what = "netplan generate";
    const char* tmp = getenv("TMPDIR");
    std::string root = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/nodekeeper-check-XXXXXX";
    if (mkdtemp(&root[0]) == nullptr) {
        run.fail(what, "temporary folder: " + error_text(errno), "set TMPDIR to a writable folder");
        return;
    }
    // The copy sits where netplan looks for it under the root folder.
    const std::string copy = root + netplan_file.shown;
    const std::string folder = copy.substr(0, copy.rfind('/'));
    bool copied = mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700) == 0 && mkdir(folder.c_str(), 0700) == 0;
    if (copied) {
        Fd_Holder fd(open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        copied = fd.get() >= 0 && write(fd.get(), text.data(), text.size()) == static_cast<ssize_t>(text.size());
    }
    if (!copied) {
        run.fail(what, "temporary copy: " + error_text(errno), "set TMPDIR to a writable folder");
    } else {
        std::string line;
        const int status = run_command("netplan generate --root-dir " + root, line);
        if (status != 0) {
            run.fail(what, line.empty() ? "exit status " + std::to_string(status) : line,
                     "netplan does not accept the file; netplan would not apply it either");
        } else {
            run.pass(what, "accepts the file");
        }
    }
    nftw(root.c_str(), remove_entry, 8, FTW_DEPTH | FTW_PHYS);
}

// The netplan file as the configuration store sees it: the store's own
// reader (read-only, logs nothing here) refuses what the daemon would refuse.
void check_netplan_file(Check_Run& run)
{
    const char* what = netplan_file.shown;
    Config_File file(netplan_file.opened, nullptr);
    if (!file.read()) {
        if (file.missing()) {
            run.pass(what, "not there yet (the daemon writes it at the BMC's first network command)");
        } else if (access(netplan_file.opened, R_OK) != 0 && errno == EACCES) {
            run.fail(what, file.refusal(), "run as root");
        } else {
            run.fail(what, file.refusal(),
                     ("the daemon refuses it as well: it reads and replaces only a regular file of at most " +
                      std::to_string(config_file_cap) + " bytes")
                         .c_str());
        }
        return;
    }
    struct stat status;
    if (stat(netplan_file.opened, &status) != 0) {
        run.fail(what, error_text(errno), "the file changed while it was checked; run the check again");
        return;
    }
    std::string link_note;
    char target[256] = {};
    if (readlink(netplan_file.opened, target, sizeof target - 1) > 0) {
        link_note = std::string(", a link to ") + target;
    }
    char detail[64];
    snprintf(detail, sizeof detail, "%zu bytes, mode %04o", file.content().size(),
             static_cast<unsigned>(status.st_mode & 07777));
    run.pass(what, detail + link_note);
    check_netplan_generate(run, file.content());
}

// The first executable of that name in PATH.
std::string find_in_path(const char* name)
{
    const char* path = getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    for (size_t at = 0; at <= dirs.size();) {
        size_t end = dirs.find(':', at);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        const std::string candidate = dirs.substr(at, end - at) + "/" + name;
        if (end > at && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        at = end + 1;
    }
    return "";
}

void check_tool(Check_Run& run, const char* name, const char* hint)
{
    const std::string found = find_in_path(name);
    if (found.empty()) {
        run.fail(name, "not found in PATH", hint);
    } else {
        run.pass(name, found);
    }
}

}  // namespace

int run_preflight_check(FILE* out)
{
    Check_Run run{out};
    check_bus(run);
    check_bmc(run);
    check_attention_line(run);
    check_sensor(run);
    check_serial_number(run);
    check_default_address(run);
    check_os_description(run);
    check_netplan_file(run);
    check_tool(run, "netplan", "install netplan.io: the BMC's network commands need it");
    check_tool(run, "hostnamectl", "install systemd: the BMC's host name command needs it");
    if (run.bus >= 0) {
        close(run.bus);
    }
    fflush(out);
    return run.failed ? 1 : 0;
}
