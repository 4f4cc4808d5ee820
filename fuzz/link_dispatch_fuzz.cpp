// The BMC link's frame parser and command dispatcher with arbitrary 256-byte
// frames from the BMC: each frame is turned into a packet as the link thread
// does and handed to the dispatcher. The packet must mirror the frame, and
// after every frame the netplan file must keep its shape and every command
// line must be one the daemon may run (support/netplan_shape.h). Runs in a
// sandbox folder with recording fakes of the commands.
#include <cstdint>
#include <cstring>

#include "I2C_BMC_frame.h"
#include "I2C_BMC_packet_thread.h"
#include "link_dispatch.h"
#include "support/fuzz_sandbox.h"
#include "support/netplan_shape.h"

namespace {

constexpr size_t max_frames_per_input = 8;

void check_packet(const uint8_t (&frame)[i2c_frame_size], const BMC::Packet& packet)
{
    const uint8_t length = frame[0];
    const size_t header = length < BMC::packet_header_length ? length : BMC::packet_header_length;
    const uint8_t fields[BMC::packet_header_length] = {packet.packet_length, packet.packet_control1,
                                                       packet.packet_control2, static_cast<uint8_t>(packet.address),
                                                       packet.subaddress};
    for (size_t i = 0; i < BMC::packet_header_length; ++i) {
        if (fields[i] != (i < header ? frame[i] : 0)) {
            nk_fuzz::fail("header byte " + std::to_string(i) + " does not mirror the frame");
        }
    }
    const size_t data_length = length > BMC::packet_header_length ? length - BMC::packet_header_length : 0;
    if ((data_length > 0) != (packet.data != nullptr) ||
        (data_length > 0 && std::memcmp(packet.data, frame + BMC::packet_header_length, data_length) != 0)) {
        nk_fuzz::fail("the packet's data do not mirror the frame");
    }
}

}  // namespace

// Input: one byte for the addressing mode at the start, then frames of 256
// bytes (the last one padded with zeros).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size == 0) {
        return 0;
    }
    nk_fuzz::reset_network((bytes[0] & 1) != 0);
    ++bytes;
    --size;
    for (size_t n = 0; n < max_frames_per_input && size > 0; ++n) {
        uint8_t frame[i2c_frame_size] = {};
        const size_t taken = size < i2c_frame_size ? size : i2c_frame_size;
        std::memcpy(frame, bytes, taken);
        bytes += taken;
        size -= taken;

        BMC::Packet packet;
        get_i2c_frame_packet(frame, &packet);
        check_packet(frame, packet);
        I2C_BMC_Packet_Hander(&packet);
        nk_fuzz::check_network_effects();
    }
    return 0;
}
