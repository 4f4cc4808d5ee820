// Byte layouts of the BMC I2C link (see I2C_BMC_frame.h).
#include "I2C_BMC_frame.h"

#include <cstring>

void get_i2c_frame_packet(const uint8_t (&frame)[i2c_frame_size], BMC::Packet* packet)
{
    decode_packet_image(frame, packet);
}

std::size_t get_i2c_packet_frame(const BMC::Packet& packet, uint8_t (&buffer)[i2c_packet_buffer_size])
{
    return encode_packet_image(packet, buffer);
}

bool get_i2c_packet_text(const BMC::Packet& packet, char (&text)[i2c_packet_text_size])
{
    text[0] = '\0';
    const std::size_t data_length = BMC::get_Packet_Data_Length(packet);
    if (data_length == 0 || packet.data == nullptr) {
        return false;
    }
    memcpy(text, packet.data, data_length);
    text[data_length] = '\0';
    return true;
}
