#include "example_handler.h"

#include <cstdio>

namespace example_handler {

const char product_name[] = "Ruvo packet server example";
const char version[] = RUVO_TOOLS_VERSION;

int set_response(const BMC::Packet& request, BMC::Packet* response)
{
    const char* text = nullptr;
    if (BMC::get_Packet_Type(request) == BMC::PACKET_TYPE::READ &&
        BMC::get_Packet_Address(request) == BMC::ADDRESS::DESCRIPTION) {
        uint8_t subaddress = BMC::get_Packet_Subaddress(request);
        if (subaddress == BMC::SUBADDRESS_DESCRIPTION_PROCUCT_NAME)
            text = product_name;
        if (subaddress == BMC::SUBADDRESS_DESCRIPTION_VERSION)
            text = version;
    }
    if (BMC::get_Packet_Type(request) == BMC::PACKET_TYPE::PING) {
        BMC::init_Packet(response, BMC::get_Packet_Node_ID(request), false, BMC::PACKET_TYPE::PING_RESPONSE, false,
                         BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
        return 0;
    }
    if (text == nullptr) {
        BMC::init_Packet(response, request);
        response->packet_control2 &= static_cast<uint8_t>(~BMC::PACKET_RESPONSE_REQUIRE_FLAG);
        return 0;
    }
    BMC::init_Packet(response, BMC::get_Packet_Node_ID(request), false, BMC::PACKET_TYPE::READ_RESPONSE, false,
                     BMC::ADDRESS::DESCRIPTION, BMC::get_Packet_Subaddress(request), BMC::DATA_TYPE::UINT8, nullptr, 0);
    BMC::set_Packet_String(response, text);
    return 0;
}

void set_broadcast(BMC::Packet* packet, BMC::NODE_ID node, unsigned int sequence)
{
    char text[32];
    snprintf(text, sizeof text, "broadcast %u", sequence);
    BMC::init_Packet(packet, node, true, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION,
                     BMC::SUBADDRESS_DESCRIPTION_INFORMATION, BMC::DATA_TYPE::UINT8, nullptr, 0);
    BMC::set_Packet_String(packet, text);
}

}  // namespace example_handler
