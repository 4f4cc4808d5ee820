// The socket server's per-client buffers, with byte arrays and given times.
#include "uds_client_buffers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace BMC;
using Bytes = std::vector<uint8_t>;

namespace {

const Server_Clock::time_point t0{};

void set_read(Request_Buffer* buffer, const Bytes& bytes, Server_Clock::time_point at)
{
    size_t room = 0;
    uint8_t* to = buffer->prepare_read(&room);
    ASSERT_GE(room, bytes.size());
    memcpy(to, bytes.data(), bytes.size());
    buffer->commit(bytes.size(), at);
}

TEST(RequestBuffer, PacketsAreTakenWholeWhateverTheReadsCut)
{
    Request_Buffer buffer;
    Packet packet;
    set_read(&buffer, {9, 0x01, 0x45, 0x05}, t0);
    EXPECT_FALSE(buffer.take_packet(&packet));
    EXPECT_EQ(buffer.get_missing_phase(), 2);
    set_read(&buffer, {0x00, 0x00}, t0);
    EXPECT_EQ(buffer.get_missing_phase(), 3);
    // The rest of the float report, then lengths 0, 1 and 2 (a packet each).
    set_read(&buffer, {0x00, 0x2A, 0x42, 0, 1, 2, 0x7F}, t0);
    ASSERT_TRUE(buffer.take_packet(&packet));
    EXPECT_EQ(packet.packet_length, 9);
    EXPECT_EQ(get_Packet_Address(packet), ADDRESS::STATUS);
    EXPECT_EQ(Bytes(packet.data, packet.data + 4), (Bytes{0x00, 0x00, 0x2A, 0x42}));
    for (uint8_t length : {0, 1, 2}) {
        ASSERT_TRUE(buffer.take_packet(&packet));
        EXPECT_EQ(packet.packet_length, length);
    }
    EXPECT_EQ(packet.packet_control1, 0x7F);
    EXPECT_FALSE(buffer.take_packet(&packet));
    EXPECT_FALSE(buffer.is_partial());
}

TEST(RequestBuffer, ArrivalOfAPartialPacketIsItsFirstByte)
{
    const auto t1 = t0 + std::chrono::milliseconds(40);
    const auto t2 = t0 + std::chrono::milliseconds(90);
    Request_Buffer buffer;
    Packet packet;
    set_read(&buffer, {6, 0x01}, t0);
    set_read(&buffer, {0x05, 0x00}, t1);
    EXPECT_EQ(buffer.get_partial_since(), t0);  // the same packet, still partial
    set_read(&buffer, {0x01, 'x', 5, 0x01}, t2);
    ASSERT_TRUE(buffer.take_packet(&packet));
    EXPECT_TRUE(buffer.is_partial());
    EXPECT_EQ(buffer.get_partial_since(), t2);  // the next one began with the last read

    // After the longest partial packet there is room for a longest one.
    Request_Buffer full;
    Bytes longest(254, 0x11);
    longest[0] = 255;
    set_read(&full, longest, t0);
    size_t room = 0;
    full.prepare_read(&room);
    EXPECT_GE(room, packet_image_max_length);
}

TEST(SendQueue, PiecesFollowWhatWentOutAndTheCapHolds)
{
    Send_Queue queue;
    const uint8_t report[9] = {9, 0x01, 0x45, 0x05, 0x00, 1, 2, 3, 4};
    const uint8_t ping[3] = {3, 0x02, 0x01};
    ASSERT_TRUE(queue.push(report, sizeof report, 2, Packet_Origin::RESPONSE));
    ASSERT_TRUE(queue.push(ping, sizeof ping, 0, Packet_Origin::BROADCAST));
    iovec pieces[Send_Queue::max_pieces];
    ASSERT_EQ(queue.fill_pieces(pieces), 2);
    EXPECT_EQ(pieces[0].iov_len, 7u);
    EXPECT_EQ(static_cast<uint8_t*>(pieces[0].iov_base)[0], 0x45);
    EXPECT_EQ(pieces[1].iov_len, 3u);
    EXPECT_FALSE(queue.is_front_header_sent());
    EXPECT_EQ(queue.get_front_origin(), Packet_Origin::RESPONSE);

    queue.consume(3);  // the report's header is out now
    EXPECT_TRUE(queue.is_front_header_sent());
    queue.consume(5);  // past the report into the ping
    ASSERT_EQ(queue.fill_pieces(pieces), 1);
    EXPECT_EQ(pieces[0].iov_len, 2u);
    EXPECT_EQ(queue.get_front_origin(), Packet_Origin::BROADCAST);
    EXPECT_FALSE(queue.is_front_header_sent());
    queue.consume(2);
    EXPECT_TRUE(queue.is_empty());

    for (size_t i = 0; i < Send_Queue::capacity; i++)
        ASSERT_TRUE(queue.push(ping, sizeof ping, 0, Packet_Origin::BROADCAST));
    EXPECT_FALSE(queue.push(ping, sizeof ping, 0, Packet_Origin::BROADCAST));
    EXPECT_EQ(queue.fill_pieces(pieces), Send_Queue::max_pieces);
}

}  // namespace
