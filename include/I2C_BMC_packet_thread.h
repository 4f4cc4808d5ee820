// Module I2C_BMC_packet_thread: the node's side of the I2C link to the BMC.
//
// The node is the bus master on /dev/i2c-0; the BMC is the slave at address
// 8. The BMC holds GPIO line 480 (its attention line) low while it has a
// packet for the node. One worker thread, I2C_BMC_Packet_Thread, does all
// bus traffic. Each pass of its loop reads the attention line: when it is
// low the worker reads one 256-byte frame from the BMC and hands it to the
// dispatcher (I2C_BMC_Packet_Hander, link_dispatch.h); otherwise it writes
// one queued packet; with nothing to do it sleeps until the line falls (the
// line's edge "falling", polled through its sysfs value file) or a packet is
// queued, and at most one second. At most one packet moves per pass, a
// pending receive goes first, and 20 ms separate the end of one bus
// transaction (with the dispatch of what it read) from the start of the
// next. A line whose controller cannot raise an interrupt is sampled every
// 20 ms instead (logged once at start). A line whose value file cannot be
// read is lost: the BMC is not read on a level nobody saw, queued packets
// still go out, and the line is set up again about once a second (logged
// once when lost and once when back; see attention_line.h).
//
// The link never reads an answer from the BMC: for a written packet that
// asks for a response the worker builds a PING_RESPONSE (3, 0x00, 0x02)
// itself; when the write failed the error callback is given the response
// packet (code 1) and may rewrite it, e.g. into an ERROR packet; while it
// runs, get_link_write_failure() names the packet that failed. Responses are
// not matched to requests: each goes to the next requester that waits. A
// failed write is logged when an outage starts ("[ERROR] set_I2C_Packet_Write:
// packet write failed, ...") and when writes succeed again, with the number
// that failed; the link itself never writes a packet twice.
//
// Ownership: the request call queues a deep copy of the caller's packet,
// which then belongs to the worker; the worker frees each packet it has
// written or failed to write, each packet it read from the BMC once the
// dispatcher returns, and every packet still queued when it stops.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <ctime>

#include "BMC_data_protocol.h"

// The BMC's bus (the node's path, before the platform prefix), its slave
// address and its attention line: the link's, and what --check probes.
#define BMC_I2C_BUS_PATH "/dev/i2c-0"
constexpr uint8_t bmc_i2c_slave_address = 0x08;
constexpr int bmc_attention_gpio = 480;  // low while the BMC holds a frame for the node

// Starts the worker and returns once it has opened the attention line's
// value file and the I2C device and sized its queues.
// broadcast_packet_handler is accepted and not used.
// packet_receive_error_handler(response_packet, 1) runs on the worker when a
// packet could not be written; its result is not used.
// Result: 0 running; 1 packet_receive_error_handler is null (nothing
// started); 2 the link is already running (nothing changed); 3 the worker
// could not be created or ended in its set-up (its failure is logged).
int init_I2C_BMC_Packet_Thread(int (*broadcast_packet_handler)(const BMC::Packet&),
                               int (*packet_receive_error_handler)(BMC::Packet*, unsigned char));

// Asks the worker to stop and joins it; returns at once when the link is not
// running.
void set_I2C_BMC_Packet_Thread_Stop();

// True from the end of the worker's set-up until it leaves its loop.
bool get_I2C_BMC_Packet_Thread_Start_Flag();

// Iterations of the worker's loop that read the attention line since the
// process started (it never goes back); it stands still while the line is
// lost. A service watchdog reads it to tell a link that makes progress from a
// hung or blind one. Safe from any thread.
uint64_t get_link_loop_count();

// What the error callback is called for: the packet whose write failed (lent
// for the call) and the writes that have failed in a row, this one included
// (1: the failure starts an outage).
struct Link_Write_Failure {
    const BMC::Packet* packet = nullptr;
    unsigned failed_in_row = 0;
};

// While the error callback runs (on the worker), the failure it is called
// for; at any other time and on any other thread {nullptr, 0}.
Link_Write_Failure get_link_write_failure();

// Queues a copy of request for the BMC. When request asks for a response,
// waits for one until the current whole second plus 3 and deep-copies it
// into *response; at the deadline *response becomes the 5-byte ERROR packet
// (5, node id of request, 0x00, 0, 0).
// Result: 0 queued (and *response filled when a response was asked for);
// 1 the link is not running; 2 response is null; 3 the transmit queue is
// full: nothing queued, and *response is the ERROR packet at once when a
// response was asked for. request is only read; *response belongs to the
// caller and its old data is released.
uint8_t set_I2C_BMC_Packet_Request(const BMC::Packet& request, BMC::Packet* response);

// A requester's deadline on the wall clock for a request made at `now`: the
// whole second of now plus 3, so the wait ends 2 to 3 seconds from now.
struct timespec compute_request_deadline(const struct timeval& now);
