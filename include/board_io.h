// Module board_io: the board's GPIO lines through the kernel's sysfs GPIO
// interface ("/sys/class/gpio", behind the platform prefix).
//
// The module keeps no state and no descriptor: every operation builds the
// path of one attribute file, opens it, does a single read or write and
// closes it again. Failures are logged on standard output, one line each
// with the file's path and the system's error text (such as "[ERROR]
// set_GPIO_Edge: open() error: /sys/class/gpio/gpio480/edge: No such file or
// directory"), and never reported to the caller, except that get_GPIO_Value
// returns false and init_gpio_edge_input returns its result.
//
// Bytes written (one write call each):
//   direction   "out" or "in" with its NUL (4 or 3 bytes)
//   active_low  "1" or "0" with a NUL (2 bytes)
//   value       "1" or "0" with a NUL (2 bytes)
//   edge        "none", "rising", "falling" or "both", without a NUL
//   export      the line number in decimal with its NUL
//
// The operations share nothing and may run on any thread.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>

#include "platform_paths.h"

enum class GPIO_DIR : uint8_t { IN = 0, OUT = 1 };

enum class GPIO_EDGE : uint8_t { NONE = 0, RISING = 1, FALLING = 2, BOTH = 3 };

// Attribute files of a line's sysfs directory (NONE: the directory itself).
enum class GPIO_FILE_TYEP : uint8_t { NONE = 0, ACTIVE_LOW = 1, DIRECTION = 2, EDGE = 3, UEVENT = 4, VALUE = 5 };

// Size of every GPIO path buffer: 64 bytes on the node, plus the platform
// prefix. Callers of get_GPIO_Path supply a buffer of this size.
constexpr std::size_t gpio_path_buffer_size = platform::platform_buffer(64);

// The longest path: a ten-digit negative line number with "/active_low"
// (42 characters on the node) and its NUL.
static_assert(sizeof(NK_PLATFORM_PATH("/sys/class/gpio/gpio")) - 1 + sizeof("-2147483648") - 1 + sizeof("/active_low") -
                      1 + 1 <=
                  gpio_path_buffer_size,
              "every GPIO attribute path fits its buffer");
static_assert(INT_MIN == -2147483647 - 1, "line numbers have at most ten digits and a sign");

// Exports the line and configures it: direction, active-high, then the edge
// for an input or the level for an output. A line whose directory already
// exists is taken as configured: nothing is opened or written.
void init_GPIO(int gpio_number, GPIO_DIR pin_dir, GPIO_EDGE edge, bool value);

enum class Gpio_Edge_Result : uint8_t {
    SELECTED,  // the line signals `edge` (poll() on its value file)
    REFUSED,   // the line cannot raise an interrupt: "none" was written instead
    FAILED,    // the line or its edge file is missing (logged as init_GPIO and set_GPIO_Edge log)
};

// Whether a line's set-up logs its failures (in the names of init_GPIO and
// the setters) or keeps quiet: a caller that retries logs once itself.
enum class Gpio_Logging : uint8_t { LOGGED, QUIET };

// An input line that signals `edge`: an unexported line is set up as
// init_GPIO does it (export, "in", active-high, the edge); on a line that is
// already exported only the edge is written, in one write. A line whose
// controller cannot raise an interrupt refuses the edge (the kernel answers
// EIO): that refusal is not logged, and "none" is written instead.
Gpio_Edge_Result init_gpio_edge_input(int gpio_number, GPIO_EDGE edge, Gpio_Logging logging = Gpio_Logging::LOGGED);

// Writers of single attributes. OUT gives "out", any other value "in".
void set_GPIO_Direction(int gpio_number, GPIO_DIR pin_dir);
void set_GPIO_Active_Low(int gpio_number, bool enable);
void set_GPIO_Value(int gpio_number, bool value);
// A value outside the four enumerators opens and writes nothing.
void set_GPIO_Edge(int gpio_number, GPIO_EDGE edge);

// True when the first byte of the line's value file is '1'; a missing or
// unreadable file or an empty read gives false.
bool get_GPIO_Value(int gpio_number);

// Writes the NUL-terminated path of the line's attribute file (the directory
// alone for NONE and any value above 5) into buffer, which holds
// gpio_path_buffer_size bytes. Returns the path's length, kept in 8 bits.
uint8_t get_GPIO_Path(int gpio_number, char* buffer, GPIO_FILE_TYEP type);
