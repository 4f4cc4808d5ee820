// Sysfs GPIO access. Every file of the GPIO tree is written through the
// attribute helper below (one open, one write, one close) and read through
// the daemon's sysfs attribute reader.
#include "board_io.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fd_holder.h"
#include "log_line.h"
#include "sysfs_attribute.h"

namespace {

const char* const gpio_export_path = NK_PLATFORM_PATH("/sys/class/gpio/export");

enum class Attribute_Status : uint8_t { DONE, OPEN_FAILED, TRANSFER_FAILED };

// Writes count bytes to the attribute file in one write call. A short write
// counts as done.
Attribute_Status set_attribute_file(const char* path, const void* bytes, size_t count)
{
    Fd_Holder fd(open(path, O_WRONLY | O_SYNC | O_CLOEXEC));
    if (fd.get() < 0) {
        return Attribute_Status::OPEN_FAILED;
    }
    const ssize_t written = write(fd.get(), bytes, count);
    return written < 0 ? Attribute_Status::TRANSFER_FAILED : Attribute_Status::DONE;
}

// Writes one attribute of the line and logs a failure in the name of caller.
void set_gpio_attribute(const char* caller, int gpio_number, GPIO_FILE_TYEP type, const char* text, size_t count)
{
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, type);
    switch (set_attribute_file(path, text, count)) {
    case Attribute_Status::OPEN_FAILED:
        log_line("[ERROR] %s: open() error\n", caller);
        break;
    case Attribute_Status::TRANSFER_FAILED:
        log_line("[ERROR] %s: write error\n", caller);
        break;
    case Attribute_Status::DONE:
        break;
    }
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
// False when the export file could not be opened (logged in the name of
// init_GPIO; nothing else is done); any later failure is logged and passed.
bool export_gpio_line(int gpio_number, GPIO_DIR pin_dir)
{
    char buffer[gpio_path_buffer_size];
    const int length = snprintf(buffer, sizeof buffer, "%d", gpio_number);
    switch (set_attribute_file(gpio_export_path, buffer, static_cast<size_t>(length) + 1)) {
    case Attribute_Status::OPEN_FAILED:
        log_line("[ERROR] %s: open() error", "init_GPIO");
        return false;
    case Attribute_Status::TRANSFER_FAILED:
        log_line("[ERROR] %s: write error\n", "init_GPIO");
        break;
    case Attribute_Status::DONE:
        break;
    }
    set_GPIO_Direction(gpio_number, pin_dir);
    set_GPIO_Active_Low(gpio_number, false);
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
    set_gpio_attribute("set_GPIO_Direction", gpio_number, GPIO_FILE_TYEP::DIRECTION, text, strlen(text) + 1);
}

void set_GPIO_Active_Low(int gpio_number, bool enable)
{
    set_gpio_attribute("set_GPIO_Active_Low", gpio_number, GPIO_FILE_TYEP::ACTIVE_LOW, get_digit_text(enable), 2);
}

void set_GPIO_Value(int gpio_number, bool value)
{
    set_gpio_attribute("set_GPIO_Value", gpio_number, GPIO_FILE_TYEP::VALUE, get_digit_text(value), 2);
}

void set_GPIO_Edge(int gpio_number, GPIO_EDGE edge)
{
    const char* text = get_edge_text(edge);
    if (text == nullptr) {
        return;  // not an edge the kernel knows: leave the line as it is
    }
    set_gpio_attribute("set_GPIO_Edge", gpio_number, GPIO_FILE_TYEP::EDGE, text, strlen(text));
}

void init_GPIO(int gpio_number, GPIO_DIR pin_dir, GPIO_EDGE edge, bool value)
{
    if (get_gpio_exported(gpio_number)) {
        return;  // already exported: keep the configuration it has
    }
    if (!export_gpio_line(gpio_number, pin_dir)) {
        return;
    }
    if (pin_dir == GPIO_DIR::IN) {
        set_GPIO_Edge(gpio_number, edge);
    } else {
        set_GPIO_Value(gpio_number, value);
    }
}

Gpio_Edge_Result init_gpio_edge_input(int gpio_number, GPIO_EDGE edge)
{
    if (!get_gpio_exported(gpio_number) && !export_gpio_line(gpio_number, GPIO_DIR::IN)) {
        return Gpio_Edge_Result::FAILED;
    }
    const char* text = get_edge_text(edge);
    if (text == nullptr) {
        return Gpio_Edge_Result::FAILED;
    }
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, GPIO_FILE_TYEP::EDGE);
    switch (set_attribute_file(path, text, strlen(text))) {
    case Attribute_Status::OPEN_FAILED:
        log_line("[ERROR] %s: open() error\n", "set_GPIO_Edge");
        return Gpio_Edge_Result::FAILED;
    case Attribute_Status::TRANSFER_FAILED:
        // The controller cannot raise an interrupt for the line.
        set_GPIO_Edge(gpio_number, GPIO_EDGE::NONE);
        return Gpio_Edge_Result::REFUSED;
    case Attribute_Status::DONE:
        break;
    }
    return Gpio_Edge_Result::SELECTED;
}

bool get_GPIO_Value(int gpio_number)
{
    char result[2];  // the first byte is the level
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, GPIO_FILE_TYEP::VALUE);
    int error = 0;
    switch (read_sysfs_attribute(path, result, sizeof result, &error)) {
    case Sysfs_Status::OPEN_FAILED:
        log_line("[ERROR] %s: open() error, %s\n", "get_GPIO_Value", strerror(error));
        return false;
    case Sysfs_Status::READ_FAILED:
        log_line("[ERROR] %s: read error, %s\n", "get_GPIO_Value", strerror(error));
        break;
    case Sysfs_Status::DONE:
        break;
    }
    return result[0] == '1';
}
