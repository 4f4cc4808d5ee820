#include "remote_protocol.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vboard::remote {
namespace {

bool write_all(int fd, const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool read_all(int fd, void* data, size_t size)
{
    auto* p = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

bool send_message(int fd, const std::vector<uint8_t>& payload)
{
    const uint32_t size = static_cast<uint32_t>(payload.size());
    return write_all(fd, &size, sizeof size) && write_all(fd, payload.data(), payload.size());
}

bool receive_message(int fd, std::vector<uint8_t>& payload)
{
    uint32_t size = 0;
    if (!read_all(fd, &size, sizeof size) || size > max_message_size) {
        return false;
    }
    payload.resize(size);
    return read_all(fd, payload.data(), size);
}

}  // namespace vboard::remote
