// Module link_dispatch: the BMC's network commands, chosen by subaddress.
// The one place where the BMC link reaches the configuration module: the
// link (I2C_BMC_packet_thread) carries the bytes and hands every packet it
// reads from the BMC to I2C_BMC_Packet_Hander, on its own thread.
#pragma once

#include "BMC_data_protocol.h"

// Carries out a packet received from the BMC, chosen by its subaddress alone
// (SUBADDRESS_NETWORK_CONFIG_*): 0 network mode (first data byte), 1 address,
// 2 gateway, 3 netmask, 4 and 5 name servers, 6 apply, 7 host name; other
// subaddresses do nothing. Commands 0-5 and 7 need data and are skipped for
// a packet without data; text commands get the data as a NUL-terminated copy
// that ends at the data's first NUL or at its end. Nothing is sent back, and
// what a command returns is not used. The packet is lent for the call; a
// null packet does nothing.
void I2C_BMC_Packet_Hander(BMC::Packet* packet);
