// Private interface of module sensor: the text of the driver's temp2_input,
// parsed apart from its read (shared with --check, read by the tests and
// fuzz targets of the module). No I/O here.
#pragma once

#include <cstddef>

// Bytes a reading is read into, NUL included: a short decimal number (as
// many as the line of `cat` output the module once read, fgets with 16
// bytes).
constexpr std::size_t temperature_text_size = 16;

// Degrees Celsius from the millidegree text of temp2_input (leading blanks
// and a sign allowed, anything behind the number ignored); 0.0 for a text
// without a number.
float parse_temperature_text(const char* text);
