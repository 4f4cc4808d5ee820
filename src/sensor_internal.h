// Private interface of module sensor, shared with --check (which looks at the
// sensor the way the module does) and read by the tests and fuzz targets of
// the module.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

// I2C adapter of the sensor.
constexpr uint8_t temp_sensor_i2c_adapter_number = 0;

// Writes the path of the folder that holds the hwmon folder of the driver
// bound to the sensor at `address` (behind the platform prefix) into buffer;
// returns what snprintf returned. The folder exists only while a driver is
// bound.
int get_hwmon_parent_path(uint8_t address, char* buffer, std::size_t size);

// The longest wait for the hwmon folder of a driver just bound, and how
// often it is looked for meanwhile: neither sysfs nor the virtual board
// report folders that the kernel creates to inotify.
constexpr std::chrono::milliseconds driver_bind_wait{5000};
constexpr std::chrono::milliseconds hwmon_look_period{20};

// Looks for the hwmon folder of the driver bound at `address` every
// hwmon_look_period until it is there (true) or `timeout` has passed (false).
bool wait_for_hwmon(uint8_t address, std::chrono::milliseconds timeout);

// Bytes a reading is read into, NUL included: a short decimal number (as
// many as the line of `cat` output the module once read, fgets with 16
// bytes).
constexpr std::size_t temperature_text_size = 16;

// Degrees Celsius from the millidegree text of temp2_input (leading blanks
// and a sign allowed, anything behind the number ignored); 0.0 for a text
// without a number.
float parse_temperature_text(const char* text);
