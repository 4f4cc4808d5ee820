#include "status_report.h"

#include <string.h>

#include "I2C_BMC_packet_thread.h"
#include "buffer_sizes.h"
#include "config.h"
#include "log_line.h"
#include "sensor.h"

namespace {

Report_Schedule report_schedule;

// Sends one text of the description (with its NUL) under `subaddress`.
void send_description_text(BMC::Packet& request, BMC::Packet& response, uint8_t subaddress, char* buffer,
                           int text_length)
{
    // The getters stop within the buffer; hold the text to it all the same.
    uint8_t length = static_cast<uint8_t>(text_length);
    if (length >= caller_buffer_size) {
        length = static_cast<uint8_t>(caller_buffer_size - 1);
    }
    buffer[length] = 0;
    BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION,
                     subaddress, BMC::DATA_TYPE::STRING, buffer, static_cast<uint8_t>(length + 1));
    set_I2C_BMC_Packet_Request(request, &response);
}

void send_description_batch(BMC::Packet& request, BMC::Packet& response, char* buffer)
{
    send_description_text(request, response, BMC::SUBADDRESS_DESCRIPTION_OS, buffer, get_Config_OS_Info(buffer));
    send_description_text(request, response, BMC::SUBADDRESS_DESCRIPTION_IP_ADDRESS, buffer,
                          get_Config_Default_IP_Address(buffer, caller_buffer_size));
    send_description_text(request, response, BMC::SUBADDRESS_DESCRIPTION_SERIAL_NUMBER, buffer,
                          get_Config_Serial_Number(buffer, caller_buffer_size));
}

}  // namespace

Report_Kind choose_due_report(Report_Schedule& schedule, bool description_forced,
                              const std::function<bool()>& take_address_flag,
                              const std::function<bool()>& take_temperature_flag)
{
    bool description_due = description_forced;
    if (!description_due) {
        schedule.last_update_count++;
        description_due = schedule.last_update_count == description_period;
    }
    if (!description_due) {
        description_due = take_address_flag();
    }
    if (description_due) {
        // A description batch is not an idle call: timeout_count stays.
        schedule.last_update_count = 0;
        return Report_Kind::DESCRIPTION;
    }
    if (take_temperature_flag()) {
        schedule.timeout_count = 0;
        return Report_Kind::TEMPERATURE;
    }
    const uint8_t idle_calls = schedule.timeout_count++;
    if (idle_calls >= timeout_2sec) {
        schedule.timeout_count = 0;
        return Report_Kind::KEEP_ALIVE;
    }
    return Report_Kind::NONE;
}

void update_Broadcast_Packet(bool product_info_send)
{
    BMC::Packet request;
    BMC::Packet response;
    char buffer[caller_buffer_size];
    memset(buffer, 0, sizeof buffer);

    switch (choose_due_report(report_schedule, product_info_send, get_Config_Default_IP_Address_Update_Flag,
                              get_Onboard_Temperature_Update_Flag)) {
    case Report_Kind::DESCRIPTION:
        send_description_batch(request, response, buffer);
        break;
    case Report_Kind::TEMPERATURE: {
        float temperature_data = get_Onboard_Temperature();
        BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::STATUS,
                         BMC::SUBADDRESS_STATUS_TEMPERATURE_ONBOARD, BMC::DATA_TYPE::FLOAT, &temperature_data, 1);
        set_I2C_BMC_Packet_Request(request, &response);
        break;
    }
    case Report_Kind::KEEP_ALIVE:
        BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::PING, false, BMC::ADDRESS::DESCRIPTION,
                         0, BMC::DATA_TYPE::UINT8, nullptr, 0);
        set_I2C_BMC_Packet_Request(request, &response);
        break;
    case Report_Kind::NONE:
        break;
    }
    // The records release their data arrays when they go out of scope.
}

int BMC_Broadcast_Packet_Handler(const BMC::Packet& /*packet*/) { return 0; }

int BMC_Packet_Receive_Error_Handler(BMC::Packet* response_packet, uint8_t /*error_code*/)
{
    log_line("[ERROR] %s: \n", "BMC_Packet_Receive_Error_Handler");
    BMC::init_Packet(response_packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::ERROR, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
    return 0;
}
