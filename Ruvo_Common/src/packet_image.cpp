// Byte image of a packet (see packet_image.h).
#include "packet_image.h"

#include <cstring>

uint8_t encode_packet_header(const BMC::Packet& packet, uint8_t (&header)[BMC::packet_header_length])
{
    header[0] = packet.packet_length;
    header[1] = packet.packet_control1;
    header[2] = packet.packet_control2;
    header[3] = static_cast<uint8_t>(packet.address);
    header[4] = packet.subaddress;
    return BMC::get_Packet_Header_Length(packet);
}

void decode_packet_header(const uint8_t* header, std::size_t count, BMC::Packet* packet)
{
    if (count > 0)
        packet->packet_length = header[0];
    if (count > 1)
        packet->packet_control1 = header[1];
    if (count > 2)
        packet->packet_control2 = header[2];
    if (count > 3)
        packet->address = static_cast<BMC::ADDRESS>(header[3]);
    if (count > 4)
        packet->subaddress = header[4];
}

std::size_t encode_packet_image(const BMC::Packet& packet, uint8_t (&image)[packet_image_max_length])
{
    uint8_t header[BMC::packet_header_length];
    const uint8_t header_length = encode_packet_header(packet, header);
    std::memcpy(image, header, header_length);
    const uint8_t data_length = BMC::get_Packet_Data_Length(packet);
    if (data_length > 0) {
        if (packet.data != nullptr) {
            std::memcpy(image + header_length, packet.data, data_length);
        } else {
            std::memset(image + header_length, 0, data_length);
        }
    }
    return packet.packet_length;
}

void decode_packet_image(const uint8_t* image, BMC::Packet* packet)
{
    // Shapes the record: length set, other header fields 0, and an array of
    // L - 5 bytes when L is above 5.
    BMC::init_Packet(packet, image[0]);
    const uint8_t header_length = BMC::get_Packet_Header_Length(*packet);
    decode_packet_header(image, header_length, packet);
    const uint8_t data_length = BMC::get_Packet_Data_Length(*packet);
    if (data_length > 0) {
        std::memcpy(packet->data, image + header_length, data_length);
    }
}
