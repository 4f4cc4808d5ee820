// Byte layouts of the BMC I2C link (see I2C_BMC_frame.h).
#include "I2C_BMC_frame.h"

#include <cstring>

void get_i2c_frame_packet(const uint8_t (&frame)[i2c_frame_size], BMC::Packet* packet)
{
    // Shapes the record: length set, other header fields 0, and an array of
    // L - 5 bytes when L is above 5.
    BMC::init_Packet(packet, frame[0]);
    uint8_t header[BMC::packet_header_length] = {};
    memcpy(header, frame, BMC::get_Packet_Header_Length(*packet));
    packet->packet_control1 = header[1];
    packet->packet_control2 = header[2];
    packet->address = static_cast<BMC::ADDRESS>(header[3]);
    packet->subaddress = header[4];
    const std::size_t data_length = BMC::get_Packet_Data_Length(*packet);
    if (data_length > 0) {
        memcpy(packet->data, frame + BMC::packet_header_length, data_length);
    }
}

std::size_t get_i2c_packet_frame(const BMC::Packet& packet, uint8_t (&buffer)[i2c_packet_buffer_size])
{
    memset(buffer, 0, sizeof buffer);
    const uint8_t header[BMC::packet_header_length] = {packet.packet_length, packet.packet_control1,
                                                       packet.packet_control2, static_cast<uint8_t>(packet.address),
                                                       packet.subaddress};
    const std::size_t header_length = BMC::get_Packet_Header_Length(packet);
    memcpy(buffer, header, header_length);
    const std::size_t data_length = BMC::get_Packet_Data_Length(packet);
    if (data_length > 0 && packet.data != nullptr) {
        memcpy(buffer + header_length, packet.data, data_length);
    }
    return packet.packet_length;
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
