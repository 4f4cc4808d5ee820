#include "status_report.h"

#include <string.h>

#include <atomic>

#include "I2C_BMC_packet_thread.h"
#include "buffer_sizes.h"
#include "config.h"
#include "log_line.h"
#include "sensor.h"

namespace {

Report_Schedule report_schedule;
// Reports whose last write failed (Report_Bit): set by the link's error
// callback on the link thread, taken by the main thread.
std::atomic<uint8_t> failed_reports{0};

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

// Sends the reports of `reports` (Report_Bit) with their current values, in
// the order of the description batch, the temperature last.
void send_reports(uint8_t reports, BMC::Packet& request, BMC::Packet& response, char* buffer)
{
    if (reports & REPORT_OS) {
        send_description_text(request, response, BMC::SUBADDRESS_DESCRIPTION_OS, buffer, get_Config_OS_Info(buffer));
    }
    if (reports & REPORT_ADDRESS) {
        send_description_text(request, response, BMC::SUBADDRESS_DESCRIPTION_IP_ADDRESS, buffer,
                              get_Config_Default_IP_Address(buffer, caller_buffer_size));
    }
    if (reports & REPORT_SERIAL) {
        send_description_text(request, response, BMC::SUBADDRESS_DESCRIPTION_SERIAL_NUMBER, buffer,
                              get_Config_Serial_Number(buffer, caller_buffer_size));
    }
    if (reports & REPORT_TEMPERATURE) {
        float temperature_data = get_Onboard_Temperature();
        BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::STATUS,
                         BMC::SUBADDRESS_STATUS_TEMPERATURE_ONBOARD, BMC::DATA_TYPE::FLOAT, &temperature_data, 1);
        set_I2C_BMC_Packet_Request(request, &response);
    }
}

constexpr uint8_t description_reports = REPORT_OS | REPORT_ADDRESS | REPORT_SERIAL;

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

uint8_t classify_report(const BMC::Packet& packet)
{
    if (BMC::get_Packet_Type(packet) != BMC::PACKET_TYPE::WRITE) {
        return 0;  // a keep-alive goes again on its own schedule
    }
    const uint8_t subaddress = BMC::get_Packet_Subaddress(packet);
    switch (BMC::get_Packet_Address(packet)) {
    case BMC::ADDRESS::DESCRIPTION:
        switch (subaddress) {
        case BMC::SUBADDRESS_DESCRIPTION_OS:
            return REPORT_OS;
        case BMC::SUBADDRESS_DESCRIPTION_IP_ADDRESS:
            return REPORT_ADDRESS;
        case BMC::SUBADDRESS_DESCRIPTION_SERIAL_NUMBER:
            return REPORT_SERIAL;
        default:
            return 0;
        }
    case BMC::ADDRESS::STATUS:
        return subaddress == BMC::SUBADDRESS_STATUS_TEMPERATURE_ONBOARD ? REPORT_TEMPERATURE : 0;
    default:
        return 0;
    }
}

uint8_t choose_resends(uint8_t failed, Report_Kind due)
{
    switch (due) {
    case Report_Kind::DESCRIPTION:
        return failed & static_cast<uint8_t>(~description_reports);
    case Report_Kind::TEMPERATURE:
        return failed & static_cast<uint8_t>(~REPORT_TEMPERATURE);
    default:
        return failed;
    }
}

void update_Broadcast_Packet(bool product_info_send)
{
    BMC::Packet request;
    BMC::Packet response;
    char buffer[caller_buffer_size];
    memset(buffer, 0, sizeof buffer);

    const Report_Kind due =
        choose_due_report(report_schedule, product_info_send, get_Config_Default_IP_Address_Update_Flag,
                          get_Onboard_Temperature_Update_Flag);
    switch (due) {
    case Report_Kind::DESCRIPTION:
        send_reports(description_reports, request, response, buffer);
        break;
    case Report_Kind::TEMPERATURE:
        send_reports(REPORT_TEMPERATURE, request, response, buffer);
        break;
    case Report_Kind::KEEP_ALIVE:
        BMC::init_Packet(&request, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::PING, false, BMC::ADDRESS::DESCRIPTION,
                         0, BMC::DATA_TYPE::UINT8, nullptr, 0);
        set_I2C_BMC_Packet_Request(request, &response);
        break;
    case Report_Kind::NONE:
        break;
    }
    // A report written now that fails again is noted again by the callback.
    send_reports(choose_resends(failed_reports.exchange(0), due), request, response, buffer);
    // The records release their data arrays when they go out of scope.
}

int BMC_Broadcast_Packet_Handler(const BMC::Packet& /*packet*/) { return 0; }

int BMC_Packet_Receive_Error_Handler(BMC::Packet* response_packet, uint8_t /*error_code*/)
{
    const Link_Write_Failure failure = get_link_write_failure();
    if (failure.packet != nullptr) {
        failed_reports.fetch_or(classify_report(*failure.packet));
    }
    if (failure.failed_in_row <= 1) {
        log_line("[ERROR] %s: \n", "BMC_Packet_Receive_Error_Handler");
    }
    BMC::init_Packet(response_packet, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::ERROR, false,
                     BMC::ADDRESS::DESCRIPTION, 0, BMC::DATA_TYPE::UINT8, nullptr, 0);
    return 0;
}
