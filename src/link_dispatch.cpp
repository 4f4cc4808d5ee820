// Dispatch of the BMC's network commands (see link_dispatch.h).
#include "link_dispatch.h"

#include "I2C_BMC_frame.h"
#include "config.h"

namespace {

// The command of a subaddress that takes the packet's data as text, or null.
bool (*get_text_command(uint8_t subaddress))(char*)
{
    switch (subaddress) {
    case BMC::SUBADDRESS_NETWORK_CONFIG_IP_ADDRESS:
        return set_Config_IP_Address;
    case BMC::SUBADDRESS_NETWORK_CONFIG_GATEWAY:
        return set_Config_Gateway;
    case BMC::SUBADDRESS_NETWORK_CONFIG_SUBNETMASK:
        return set_Config_Subnetmask;
    case BMC::SUBADDRESS_NETWORK_CONFIG_DNS1:
        return set_Config_Dns1;
    case BMC::SUBADDRESS_NETWORK_CONFIG_DNS2:
        return set_Config_Dns2;
    case BMC::SUBADDRESS_NETWORK_CONFIG_HOSTNAME:
        return set_Config_Hostname;
    default:
        return nullptr;
    }
}

}  // namespace

void I2C_BMC_Packet_Hander(BMC::Packet* packet)
{
    if (packet == nullptr) {
        return;
    }
    const uint8_t subaddress = BMC::get_Packet_Subaddress(*packet);
    if (subaddress == BMC::SUBADDRESS_NETWORK_CONFIG_APPLY) {
        run_Apply();
        return;
    }
    if (subaddress == BMC::SUBADDRESS_NETWORK_CONFIG_MODE) {
        if (BMC::get_Packet_Data_Length(*packet) > 0 && packet->data != nullptr) {
            set_Network_Mode(packet->data[0]);
        }
        return;
    }
    bool (*command)(char*) = get_text_command(subaddress);
    char text[i2c_packet_text_size];
    if (command != nullptr && get_i2c_packet_text(*packet, text)) {
        command(text);
    }
}
