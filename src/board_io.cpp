// Sysfs GPIO access. Every file of the GPIO tree is read and written through
// the daemon's sysfs attribute helpers (one open, one read or write, one
// close); a failure is logged with the file's path and the system's error.
#include "board_io.h"

#include <errno.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "log_line.h"
#include "sysfs_attribute.h"

namespace {

const char* const gpio_export_path = NK_PLATFORM_PATH("/sys/class/gpio/export");

// Logs a failed open or write of the attribute file at path in the name of
// caller: the described text, then the path and the system's error.
void log_gpio_failure(const char* caller, Sysfs_Status status, const char* path, int error)
{
    if (status == Sysfs_Status::OPEN_FAILED) {
        log_line("[ERROR] %s: open() error: %s: %s\n", caller, path, strerror(error));
    } else if (status == Sysfs_Status::WRITE_FAILED) {
        log_line("[ERROR] %s: write error: %s: %s\n", caller, path, strerror(error));
    }
}

// Writes one attribute of the line; a failure is logged in the name of
// caller unless logging is QUIET.
Sysfs_Status write_gpio_attribute(const char* caller, int gpio_number, GPIO_FILE_TYEP type, const char* text,
                                  size_t count, Gpio_Logging logging)
{
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, type);
    int error = 0;
    const Sysfs_Status status = write_sysfs_attribute(path, text, count, &error);
    if (logging == Gpio_Logging::LOGGED) {
        log_gpio_failure(caller, status, path, error);
    }
    return status;
}

// Text with its NUL ("1"/"0") for the active_low and value files.
const char* get_digit_text(bool on) { return on ? "1" : "0"; }

const char* get_suffix(GPIO_FILE_TYEP type)
{
    switch (type) {
    case GPIO_FILE_TYEP::ACTIVE_LOW:
        return "/active_low";
    case GPIO_FILE_TYEP::DIRECTION:
        return "/direction";
    case GPIO_FILE_TYEP::EDGE:
        return "/edge";
    case GPIO_FILE_TYEP::UEVENT:
        return "/uevent";
    case GPIO_FILE_TYEP::VALUE:
        return "/value";
    case GPIO_FILE_TYEP::NONE:
        break;
    }
    return "";
}

// The edge attribute's word, without a NUL; null for a value that is no edge.
const char* get_edge_text(GPIO_EDGE edge)
{
    switch (edge) {
    case GPIO_EDGE::NONE:
        return "none";
    case GPIO_EDGE::RISING:
        return "rising";
    case GPIO_EDGE::FALLING:
        return "falling";
    case GPIO_EDGE::BOTH:
        return "both";
    }
    return nullptr;
}

// True when the line's directory exists: the line is exported.
bool get_gpio_exported(int gpio_number)
{
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, GPIO_FILE_TYEP::NONE);
    return access(path, R_OK) == 0;
}

// init_GPIO's steps up to the edge or level: export, direction, active-high.
// False when the export file could not be opened (nothing else is done); any
// later failure is passed. Failures are logged in the names of init_GPIO and
// the setters unless logging is QUIET.
bool export_gpio_line(int gpio_number, GPIO_DIR pin_dir, Gpio_Logging logging)
{
    char buffer[gpio_path_buffer_size];
    const int length = snprintf(buffer, sizeof buffer, "%d", gpio_number);
    int error = 0;
    const Sysfs_Status status =
        write_sysfs_attribute(gpio_export_path, buffer, static_cast<size_t>(length) + 1, &error);
    if (logging == Gpio_Logging::LOGGED) {
        log_gpio_failure("init_GPIO", status, gpio_export_path, error);
    }
    if (status == Sysfs_Status::OPEN_FAILED) {
        return false;
    }
    const char* direction = pin_dir == GPIO_DIR::OUT ? "out" : "in";
    write_gpio_attribute("set_GPIO_Direction", gpio_number, GPIO_FILE_TYEP::DIRECTION, direction, strlen(direction) + 1,
                         logging);
    write_gpio_attribute("set_GPIO_Active_Low", gpio_number, GPIO_FILE_TYEP::ACTIVE_LOW, get_digit_text(false), 2,
                         logging);
    return true;
}

}  // namespace

uint8_t get_GPIO_Path(int gpio_number, char* buffer, GPIO_FILE_TYEP type)
{
    // Cannot be cut: the longest path fits gpio_path_buffer_size (see header).
    const int directory_length =
        snprintf(buffer, gpio_path_buffer_size, NK_PLATFORM_PATH("/sys/class/gpio/gpio%d"), gpio_number);
    const char* suffix = get_suffix(type);
    const size_t suffix_length = strlen(suffix);
    memcpy(buffer + directory_length, suffix, suffix_length + 1);
    return static_cast<uint8_t>(directory_length + suffix_length);
}

void set_GPIO_Direction(int gpio_number, GPIO_DIR pin_dir)
{
    const char* text = pin_dir == GPIO_DIR::OUT ? "out" : "in";
    write_gpio_attribute("set_GPIO_Direction", gpio_number, GPIO_FILE_TYEP::DIRECTION, text, strlen(text) + 1,
                         Gpio_Logging::LOGGED);
}

void set_GPIO_Active_Low(int gpio_number, bool enable)
{
    write_gpio_attribute("set_GPIO_Active_Low", gpio_number, GPIO_FILE_TYEP::ACTIVE_LOW, get_digit_text(enable), 2,
                         Gpio_Logging::LOGGED);
}

void set_GPIO_Value(int gpio_number, bool value)
{
    write_gpio_attribute("set_GPIO_Value", gpio_number, GPIO_FILE_TYEP::VALUE, get_digit_text(value), 2,
                         Gpio_Logging::LOGGED);
}

void set_GPIO_Edge(int gpio_number, GPIO_EDGE edge)
{
    const char* text = get_edge_text(edge);
    if (text == nullptr) {
        return;  // not an edge the kernel knows: leave the line as it is
    }
    write_gpio_attribute("set_GPIO_Edge", gpio_number, GPIO_FILE_TYEP::EDGE, text, strlen(text), Gpio_Logging::LOGGED);
}

void init_GPIO(int gpio_number, GPIO_DIR pin_dir, GPIO_EDGE edge, bool value)
{
    if (get_gpio_exported(gpio_number)) {
        return;  // already exported: keep the configuration it has
    }
    if (!export_gpio_line(gpio_number, pin_dir, Gpio_Logging::LOGGED)) {
        return;
    }
    if (pin_dir == GPIO_DIR::IN) {
        set_GPIO_Edge(gpio_number, edge);
    } else {
        set_GPIO_Value(gpio_number, value);
    }
}

Gpio_Edge_Result init_gpio_edge_input(int gpio_number, GPIO_EDGE edge, Gpio_Logging logging)
{
    if (!get_gpio_exported(gpio_number) && !export_gpio_line(gpio_number, GPIO_DIR::IN, logging)) {
        return Gpio_Edge_Result::FAILED;
    }
    const char* text = get_edge_text(edge);
    if (text == nullptr) {
        return Gpio_Edge_Result::FAILED;
    }
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, GPIO_FILE_TYEP::EDGE);
    int error = 0;
    const Sysfs_Status status = write_sysfs_attribute(path, text, strlen(text), &error);
    if (status == Sysfs_Status::DONE) {
        return Gpio_Edge_Result::SELECTED;
    }
    if (status == Sysfs_Status::WRITE_FAILED) {
        // The controller cannot raise an interrupt for the line.
        write_gpio_attribute("set_GPIO_Edge", gpio_number, GPIO_FILE_TYEP::EDGE, "none", strlen("none"), logging);
        return Gpio_Edge_Result::REFUSED;
    }
    if (logging == Gpio_Logging::LOGGED) {
        log_gpio_failure("set_GPIO_Edge", status, path, error);
    }
    return Gpio_Edge_Result::FAILED;
}

bool get_GPIO_Value(int gpio_number)
{
    char result[2];  // the first byte is the level
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, GPIO_FILE_TYEP::VALUE);
    int error = 0;
    // The described lines carry the system's error already: the path follows.
    switch (read_sysfs_attribute(path, result, sizeof result, &error)) {
    case Sysfs_Status::OPEN_FAILED:
        log_line("[ERROR] %s: open() error, %s: %s\n", "get_GPIO_Value", strerror(error), path);
        return false;
    case Sysfs_Status::READ_FAILED:
        log_line("[ERROR] %s: read error, %s: %s\n", "get_GPIO_Value", strerror(error), path);
        break;
    default:
        break;
    }
    return result[0] == '1';
}
