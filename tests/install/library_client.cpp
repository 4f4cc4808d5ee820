// A program of the product built against the installed common library (by
// install_layout.sh and scripts/package-test): a packet written to a pipe and
// read back, and a queue round trip. Exit status 0 when all works.
#include <unistd.h>

#include <cstring>

#include "BMC_data_protocol.h"
#include "BMC_data_protocol_read_write.h"
#include "queue.h"

int main()
{
    int fds[2];
    if (pipe(fds) != 0) {
        return 2;
    }
    char text[] = "installed";
    BMC::Packet out;
    BMC::init_Packet(&out, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION, 5,
                     BMC::DATA_TYPE::STRING, text, sizeof text);
    if (set_Packet_Write(fds[1], out) != 0) {
        return 3;
    }
    BMC::Packet in;
    if (get_Packet_Read(fds[0], &in) != 0) {
        return 4;
    }
    if (in.packet_length != out.packet_length || std::memcmp(in.data, text, sizeof text) != 0) {
        return 5;
    }
    Queue<int> queue(4);
    int value = 0;
    if (queue.Enqueue(42) != 0 || queue.Dequeue(&value) != 0 || value != 42) {
        return 6;
    }
    return 0;
}
