// Platform paths of the daemon.
//
// Every absolute path the daemon uses on the node (devices, sysfs, procfs,
// /etc) is compiled behind one prefix, NODEKEEPER_SYSROOT, set by the build.
// The shipped build has an empty prefix, so its paths are the node's own;
// the tests and the simulator build the same sources with a prefix that
// points at a virtual node board.
//
// Buffers that hold such a path (or a command composed from one) are sized
// with platform_buffer(): the node's own size plus the prefix length, so the
// shipped build keeps its sizes and a simulation build never cuts a path.
#pragma once

#include <cstddef>

#ifndef NODEKEEPER_SYSROOT
#define NODEKEEPER_SYSROOT ""
#endif

// The prefixed form of an absolute platform path given as a string literal.
#define NK_PLATFORM_PATH(path) NODEKEEPER_SYSROOT path

namespace platform {

// Characters the prefix adds to every platform path.
constexpr std::size_t sysroot_length = sizeof(NODEKEEPER_SYSROOT) - 1;

// Size of a buffer that holds what `node_size` bytes hold on the node, plus
// the prefix.
constexpr std::size_t platform_buffer(std::size_t node_size) { return node_size + sysroot_length; }

namespace detail {
constexpr bool prefix_is_safe(const char* s)
{
    // The prefix is pasted into printf formats and shell command lines.
    for (; *s != '\0'; ++s) {
        const char c = *s;
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                        c == '.' || c == '_' || c == '-' || c == '+';
        if (!ok) {
            return false;
        }
    }
    return true;
}
}  // namespace detail

static_assert(detail::prefix_is_safe(NODEKEEPER_SYSROOT),
              "NODEKEEPER_SYSROOT may hold only letters, digits and / . _ - +");

}  // namespace platform
