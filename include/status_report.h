// Module status_report: what the daemon tells the BMC on its own, and when.
//
// Every call of update_Broadcast_Packet sends at most one kind of report:
// the description batch (OS description, default address, serial number),
// else a changed temperature, else on every 11th idle call a keep-alive.
// The choice is made by choose_due_report, a pure function of the schedule's
// counters and of what changed; update_Broadcast_Packet gathers the texts
// and hands the packets to the BMC link.
//
// A report whose write fails (the link's error callback names it) is sent
// again on every call until a write succeeds, with the value current then:
// the BMC ends up with the node's current OS description, address, serial
// number and temperature, the latest value only. Keep-alives are not sent
// again.
//
// Threads: update_Broadcast_Packet and the schedule run on the main thread
// only; BMC_Packet_Receive_Error_Handler runs on the link thread and shares
// only the set of reports to send again (an atomic) with them.
#pragma once

#include <cstdint>
#include <functional>

#include "BMC_data_protocol.h"

// Idle calls after which a keep-alive is due (it goes out on the 11th).
constexpr uint8_t timeout_2sec = 10;
// Calls after which the description is sent again without any change.
constexpr uint8_t description_period = 60;

enum class Report_Kind : uint8_t { NONE = 0, DESCRIPTION = 1, TEMPERATURE = 2, KEEP_ALIVE = 3 };

// The counters of the schedule, zero at program start.
struct Report_Schedule {
    uint8_t last_update_count = 0;  // calls since the last description batch
    uint8_t timeout_count = 0;      // idle calls since the last temperature report or keep-alive
};

// Decides the report of one call and updates the counters.
// description_forced: the caller asks for the description batch.
// take_address_flag / take_temperature_flag read (and clear) the change
// flags of the address tracker and the sensor. They are asked lazily, in
// this order, and only while nothing was chosen yet: a flag that was not
// asked stays pending for the next call.
Report_Kind choose_due_report(Report_Schedule& schedule, bool description_forced,
                              const std::function<bool()>& take_address_flag,
                              const std::function<bool()>& take_temperature_flag);

// Reports that are sent again after a failed write, one bit each.
enum Report_Bit : uint8_t {
    REPORT_OS = 1,
    REPORT_ADDRESS = 2,
    REPORT_SERIAL = 4,
    REPORT_TEMPERATURE = 8,
};

// The bit of the report that packet carries; 0 for a keep-alive and for any
// packet that is no report of this module.
uint8_t classify_report(const BMC::Packet& packet);

// The failed reports (bits) to send again on a call that sends `due`: those
// it does not send anyway.
uint8_t choose_resends(uint8_t failed, Report_Kind due);

// Sends the report that is due (product_info_send forces the description
// batch), then the failed reports it did not cover, with their current
// values. Reports that the link refuses (not running, queue full) are lost.
void update_Broadcast_Packet(bool product_info_send);

// The link's broadcast handler: does nothing, returns 0.
int BMC_Broadcast_Packet_Handler(const BMC::Packet& packet);

// The link's error callback, run on the link thread when a packet could not
// be written: notes the failed report for sending again, logs
// "[ERROR] BMC_Packet_Receive_Error_Handler: " when the failure starts an
// outage (not for every write that fails during it) and turns
// *response_packet into the 5-byte ERROR packet (5, 0x00, 0x00, 0, 0).
// error_code is not looked at. Returns 0.
int BMC_Packet_Receive_Error_Handler(BMC::Packet* response_packet, uint8_t error_code);
