// The packet stream reader over arbitrary bytes: the bytes are served from
// a memory file, packets are read until the stream gives out, and every
// packet read is copied with the codec and the copy written back: it must
// give the bytes the packet was read from.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "BMC_data_protocol_read_write.h"
#include "support/fuzz_fail.h"

namespace {

class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("nk-fuzz-stream", MFD_CLOEXEC))
    {
        if (fd_ < 0) {
            nk_fuzz::fail("memfd_create failed");
        }
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    int fd() const { return fd_; }

    void fill(const uint8_t* data, size_t size)
    {
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size) ||
            lseek(fd_, 0, SEEK_SET) != 0) {
            nk_fuzz::fail("cannot fill the memory file");
        }
    }

    std::vector<uint8_t> contents() const
    {
        const off_t size = lseek(fd_, 0, SEEK_END);
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        if (size > 0 && pread(fd_, bytes.data(), bytes.size(), 0) != size) {
            nk_fuzz::fail("cannot read the memory file back");
        }
        return bytes;
    }

private:
    int fd_;
};

// The record after a whole packet: an array exactly when there are data.
void check_record(const BMC::Packet& packet, uint8_t length)
{
    if (packet.packet_length != length) {
        nk_fuzz::fail("packet_length differs from the length byte");
    }
    const bool has_data = length > BMC::packet_header_length;
    if (has_data != (packet.data != nullptr)) {
        nk_fuzz::fail("data array present without data, or missing with data");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryFile input;
    input.fill(data, size);
    BMC::Packet packet;  // reused, as a server's reader reuses its record
    size_t offset = 0;
    while (offset < size) {
        const uint8_t result = get_Packet_Read(input.fd(), &packet);
        if (result > 3) {
            nk_fuzz::fail("result code out of range");
        }
        if (result != 0) {
            break;
        }
        const uint8_t length = data[offset];
        check_record(packet, length);
        // Bytes a read takes: the length byte, the rest of the header, the data.
        const size_t taken = length == 0 ? 1 : length;
        BMC::Packet copy;
        BMC::init_Packet(&copy, packet);
        check_record(copy, length);
        MemoryFile echo;
        if (set_Packet_Write(echo.fd(), copy) != 0) {
            nk_fuzz::fail("writing a packet that was read failed");
        }
        const std::vector<uint8_t> written = echo.contents();
        const size_t expected = length == 0 ? 0 : taken;
        if (written.size() != expected || (expected > 0 && std::memcmp(written.data(), data + offset, expected) != 0)) {
            nk_fuzz::fail("a packet written back differs from the bytes it was read from");
        }
        offset += taken;
    }
    return 0;
}
