// Answers of the example server, apart from its main so that they can be
// checked without sockets.
#pragma once

#include "BMC_data_protocol.h"

namespace example_handler {

extern const char product_name[];
extern const char version[];

// Packet handler: a READ of DESCRIPTION / PRODUCT_NAME or VERSION is answered
// with a READ_RESPONSE holding the text, a PING with a PING_RESPONSE; any
// other request comes back as it was sent, without the response-require
// flag. Always 0.
int set_response(const BMC::Packet& request, BMC::Packet* response);

// The periodic broadcast: a WRITE of DESCRIPTION / INFORMATION with the text
// "broadcast <sequence>".
void set_broadcast(BMC::Packet* packet, BMC::NODE_ID node, unsigned int sequence);

}  // namespace example_handler
