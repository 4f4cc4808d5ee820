// Reading one packet within a time window, for the socket server's own read
// path (private to the library: not installed). get_Packet_Read stays the
// plain reader for callers with blocking descriptors.
#pragma once

#include <cstdint>

#include "BMC_data_protocol.h"

// Reads one packet as get_Packet_Read does, with the same codes, and gives
// up with the code of its phase (2 header, 3 data) once window_ms have
// passed since the length byte arrived. The window is checked before every
// read after the length byte, so each read must be bounded by the
// descriptor itself (a receive time-out): a packet then holds the caller at
// most window_ms plus one read's time-out.
uint8_t read_packet_within(int fd, BMC::Packet* packet, unsigned int window_ms);
