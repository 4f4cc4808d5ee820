// Sysfs GPIO access. Every file of the GPIO tree is touched through the two
// attribute helpers below (one open, one read or write, one close).
#include "board_io.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "fd_holder.h"
#include "log_line.h"

namespace {

const char* const gpio_export_path = NK_PLATFORM_PATH("/sys/class/gpio/export");

enum class Attribute_Status : uint8_t { DONE, OPEN_FAILED, TRANSFER_FAILED };

// Writes count bytes to the attribute file in one write call. A short write
// counts as done.
Attribute_Status set_Attribute_File(const char* path, const void* bytes, size_t count)
{
    Fd_Holder fd(open(path, O_WRONLY | O_SYNC | O_CLOEXEC));
    if (fd.get() < 0) {
        return Attribute_Status::OPEN_FAILED;
    }
    const ssize_t written = write(fd.get(), bytes, count);
    return written < 0 ? Attribute_Status::TRANSFER_FAILED : Attribute_Status::DONE;
}

// Reads the first byte of the attribute file into *byte (left as it is when
// the file is empty). On failure *error holds the errno of the failed call.
Attribute_Status get_Attribute_File(const char* path, char* byte, int* error)
{
    Fd_Holder fd(open(path, O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        *error = errno;
        return Attribute_Status::OPEN_FAILED;
    }
    const ssize_t got = read(fd.get(), byte, 1);
    *error = errno;
    return got < 0 ? Attribute_Status::TRANSFER_FAILED : Attribute_Status::DONE;
}

// Writes one attribute of the line and logs a failure in the name of caller.
void set_GPIO_Attribute(const char* caller, int gpio_number, GPIO_FILE_TYEP type, const char* text, size_t count)
{
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, type);
    switch (set_Attribute_File(path, text, count)) {
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
const char* get_Digit_Text(bool on) { return on ? "1" : "0"; }

const char* get_Suffix(GPIO_FILE_TYEP type)
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

}  // namespace

uint8_t get_GPIO_Path(int gpio_number, char* buffer, GPIO_FILE_TYEP type)
{
    // Cannot be cut: the longest path fits gpio_path_buffer_size (see header).
    const int directory_length =
        snprintf(buffer, gpio_path_buffer_size, NK_PLATFORM_PATH("/sys/class/gpio/gpio%d"), gpio_number);
    const char* suffix = get_Suffix(type);
    const size_t suffix_length = strlen(suffix);
    memcpy(buffer + directory_length, suffix, suffix_length + 1);
    return static_cast<uint8_t>(directory_length + suffix_length);
}

void set_GPIO_Direction(int gpio_number, GPIO_DIR pin_dir)
{
    const char* text = pin_dir == GPIO_DIR::OUT ? "out" : "in";
    set_GPIO_Attribute("set_GPIO_Direction", gpio_number, GPIO_FILE_TYEP::DIRECTION, text, strlen(text) + 1);
}

void set_GPIO_Active_Low(int gpio_number, bool enable)
{
    set_GPIO_Attribute("set_GPIO_Active_Low", gpio_number, GPIO_FILE_TYEP::ACTIVE_LOW, get_Digit_Text(enable), 2);
}

void set_GPIO_Value(int gpio_number, bool value)
{
    set_GPIO_Attribute("set_GPIO_Value", gpio_number, GPIO_FILE_TYEP::VALUE, get_Digit_Text(value), 2);
}

void set_GPIO_Edge(int gpio_number, GPIO_EDGE edge)
{
    const char* text = nullptr;
    switch (edge) {
    case GPIO_EDGE::NONE:
        text = "none";
        break;
    case GPIO_EDGE::RISING:
        text = "rising";
        break;
    case GPIO_EDGE::FALLING:
        text = "falling";
        break;
    case GPIO_EDGE::BOTH:
        text = "both";
        break;
    }
    if (text == nullptr) {
        return;  // not an edge the kernel knows: leave the line as it is
    }
    set_GPIO_Attribute("set_GPIO_Edge", gpio_number, GPIO_FILE_TYEP::EDGE, text, strlen(text));
}

void init_GPIO(int gpio_number, GPIO_DIR pin_dir, GPIO_EDGE edge, bool value)
{
    char buffer[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, buffer, GPIO_FILE_TYEP::NONE);
    if (access(buffer, R_OK) == 0) {
        return;  // already exported: keep the configuration it has
    }

    const int length = snprintf(buffer, sizeof buffer, "%d", gpio_number);
    switch (set_Attribute_File(gpio_export_path, buffer, static_cast<size_t>(length) + 1)) {
    case Attribute_Status::OPEN_FAILED:
        log_line("[ERROR] %s: open() error", "init_GPIO");
        return;
    case Attribute_Status::TRANSFER_FAILED:
        log_line("[ERROR] %s: write error\n", "init_GPIO");
        break;
    case Attribute_Status::DONE:
        break;
    }

    set_GPIO_Direction(gpio_number, pin_dir);
    set_GPIO_Active_Low(gpio_number, false);
    if (pin_dir == GPIO_DIR::IN) {
        set_GPIO_Edge(gpio_number, edge);
    } else {
        set_GPIO_Value(gpio_number, value);
    }
}

bool get_GPIO_Value(int gpio_number)
{
    char result = 0;
    char path[gpio_path_buffer_size];
    get_GPIO_Path(gpio_number, path, GPIO_FILE_TYEP::VALUE);
    int error = 0;
    switch (get_Attribute_File(path, &result, &error)) {
    case Attribute_Status::OPEN_FAILED:
        log_line("[ERROR] %s: open() error, %s\n", "get_GPIO_Value", strerror(error));
        return false;
    case Attribute_Status::TRANSFER_FAILED:
        log_line("[ERROR] %s: read error, %s\n", "get_GPIO_Value", strerror(error));
        break;
    case Attribute_Status::DONE:
        break;
    }
    return result == '1';
}
