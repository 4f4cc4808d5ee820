// Reading and writing one BMC::Packet over a byte-stream descriptor (for
// example a connected Unix-domain stream socket). The stream has no framing
// of its own: a packet is its byte image (see BMC_data_protocol.h) and its
// first byte, packet_length, tells how many bytes follow.
//
// The descriptor is neither opened nor closed here and its blocking mode is
// the caller's. read/write returning 0 or less ends a call at once with the
// code of its phase: no retry (also not after EINTR); errno is left for the
// caller. Two threads must not read from, or write to, the same descriptor
// at the same time: one packet spans several system calls.
#pragma once

#include <cstdint>

#include "BMC_data_protocol.h"

// Reads one packet into *packet, replacing its content: the record is
// reshaped with init_Packet(packet, L) once the length byte L has arrived
// (old data released, a new array of L - 5 bytes allocated), so packet must
// point to a valid record; the caller keeps owning it. Nothing is validated:
// every L from 0 to 255 and every control byte is accepted.
// Returns 0 a whole packet was read; 1 the length byte did not arrive
// (record untouched); 2 the rest of the header did not arrive; 3 the data
// did not arrive. After 2 or 3 the record is consistent for destruction or
// reuse but its content is not a packet.
uint8_t get_Packet_Read(int fd, BMC::Packet* packet);

// Writes the byte image of packet: its header (min(L, 5) bytes), then its
// data in separate write calls. The record must keep the codec's invariant
// (data holds packet_length - 5 bytes).
// Returns 0 the whole packet was written; 1 writing the header failed;
// 2 writing the data failed (some bytes may have gone out: the stream is
// out of step), or the record has no data array for its length (a refused
// data store; nothing is written then). A vanished peer raises SIGPIPE
// unless the process ignores it.
uint8_t set_Packet_Write(int fd, const BMC::Packet& packet);
