// nodekeeper: resident management daemon of the node card.
//
// Start-up: find the temperature sensor, start the BMC I2C link, announce
// the daemon and send the node's description. Then, every two seconds:
// refresh the default address and the temperature and send the BMC what is
// due (the description again, a changed temperature, or a keep-alive).
// Nothing stops the daemon but a signal.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <cstdint>

#include "BMC_data_protocol.h"
#include "I2C_BMC_packet_thread.h"
#include "config.h"
#include "sensor.h"
#include "log_line.h"

namespace {

// Idle calls after which a keep-alive is due (it goes out on the 11th).
const uint8_t timeout_2sec = 10;
// Calls after which the description is sent again without any change.
const uint8_t description_period = 60;
// Capacity of the text buffer of one report.
const unsigned int buffer_length = 100;
// Build stamp of the banner: "Mmm dd yyyy" and "hh:mm:ss".
const char* const build_date = __DATE__;
const char* const build_time = __TIME__;

// Idle calls since the last temperature report or keep-alive.
uint8_t timeout_count = 0;

int BMC_Broadcast_Packet_Handler(const BMC::Packet& /*packet*/) { return 0; }

// Called on the link thread when a packet could not be written to the BMC:
// the requester then receives an ERROR packet.
int BMC_Packet_Receive_Error_Handler(BMC::Packet* response_packet, uint8_t /*error_code*/)
{
    log_line("[ERROR] %s: \n", "BMC_Packet_Receive_Error_Handler");
    BMC::init_Packet(response_packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::ERROR, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
    return 0;
}

// Sends one text of the description (with its NUL) under `subaddress`.
void send_Description_Text(BMC::Packet& request, BMC::Packet& response, uint8_t subaddress, char* buffer,
                           int text_length)
{
    // The getters stop within the buffer; hold the text to it all the same.
    uint8_t length = static_cast<uint8_t>(text_length);
    if (length >= buffer_length) {
        length = buffer_length - 1;
    }
    buffer[length] = 0;
    BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION,
                     subaddress, BMC::DATA_TYPE::STRING, buffer, static_cast<uint8_t>(length + 1));
    set_I2C_BMC_Packet_Request(request, &response);
}

void send_Description_Batch(BMC::Packet& request, BMC::Packet& response, char* buffer)
{
    send_Description_Text(request, response, BMC::SUBADDRESS_DESCRIPTION_OS, buffer, get_Config_OS_Info(buffer));
    send_Description_Text(request, response, BMC::SUBADDRESS_DESCRIPTION_IP_ADDRESS, buffer,
                          get_Config_Default_IP_Address(buffer, buffer_length));
    send_Description_Text(request, response, BMC::SUBADDRESS_DESCRIPTION_SERIAL_NUMBER, buffer,
                          get_Config_Serial_Number(buffer, buffer_length));
}

}  // namespace

// Sends the one report that is due: the description batch, else a changed
// temperature, else (on every 11th idle call) a keep-alive.
void update_Broadcast_Packet(bool product_info_send)
{
    static uint8_t last_update_count = 0;

    BMC::Packet request;
    BMC::Packet response;
    char buffer[buffer_length];
    memset(buffer, 0, sizeof buffer);

    bool description_due = product_info_send;
    if (!description_due) {
        last_update_count++;
        description_due = last_update_count == description_period;
    }
    if (!description_due) {
        description_due = get_Config_Default_IP_Address_Update_Flag();
    }

    if (description_due) {
        last_update_count = 0;
        send_Description_Batch(request, response, buffer);
    } else if (get_Onboard_Temperature_Update_Flag()) {
        float temperature_data = get_Onboard_Temperature();
        BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::STATUS,
                         BMC::SUBADDRESS_STATUS_TEMPERATURE_ONBOARD, BMC::DATA_TYPE::FLOAT, &temperature_data, 1);
        set_I2C_BMC_Packet_Request(request, &response);
        timeout_count = 0;
    } else {
        const uint8_t idle_calls = timeout_count++;
        if (idle_calls >= timeout_2sec) {
            BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::PING, false,
                             BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
            set_I2C_BMC_Packet_Request(request, &response);
            timeout_count = 0;
        }
    }
    // The records release their data arrays when they go out of scope.
}

int main(int /*argc*/, char** /*argv*/)
{
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    setvbuf(stderr, nullptr, _IOLBF, 0);

    init_NAREL_Sensor();

    if (init_I2C_BMC_Packet_Thread(BMC_Broadcast_Packet_Handler, BMC_Packet_Receive_Error_Handler) != 0) {
        // Without the link every report would be refused: leave, so that the
        // service manager can start the daemon again.
        log_line("[ERROR] %s: BMC I2C link could not be started\n", "main");
        return 1;
    }

    char version[buffer_length];
    memset(version, 0, sizeof version);
    get_Config_Version(version);
    log_line("[INFO] %s: Tovana Ruvo Narel Main Daemon %s - %s %s\n", "main", version, build_date, build_time);

    update_Broadcast_Packet(true);

    for (;;) {
        update_Config_Default_IP_Address();
        update_Temperature();
        update_Broadcast_Packet(false);
        sleep(2);
    }
}
