#include "remote_protocol.h"

#include <errno.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vboard::remote {
namespace {

// Moves exactly size bytes with io (a send or a read), continuing short
// transfers; false at the end of the stream or on an error.
template <typename Io>
bool transfer_all(uint8_t* p, size_t size, Io io)
{
    while (size > 0) {
        const ssize_t n = io(p, size);
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

bool write_all(int fd, const void* data, size_t size)
{
    return transfer_all(static_cast<uint8_t*>(const_cast<void*>(data)), size,
                        [fd](uint8_t* p, size_t n) { return send(fd, p, n, MSG_NOSIGNAL); });
}

bool read_all(int fd, void* data, size_t size)
{
    return transfer_all(static_cast<uint8_t*>(data), size, [fd](uint8_t* p, size_t n) { return read(fd, p, n); });
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
