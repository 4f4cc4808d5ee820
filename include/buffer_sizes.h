// Buffer sizes the daemon's modules share.
#pragma once

#include <cstddef>

// Text buffers that the callers of the text getters own (serial number,
// product name, version, OS description, default address): the size every
// call site passes, NUL included.
constexpr std::size_t caller_buffer_size = 100;

// Composed command lines and the result buffers of the command runners.
constexpr std::size_t command_buffer_size = 128;
