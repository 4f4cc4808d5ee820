#include "BMC_data_protocol_read_write.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace BMC;
using Bytes = std::vector<uint8_t>;

namespace {

// A connected stream socket pair; both ends closed on destruction.
struct SocketPair {
    int local = -1;
    int peer = -1;
    SocketPair()
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0) {
            local = fds[0];
            peer = fds[1];
        }
    }
    ~SocketPair()
    {
        if (local >= 0)
            close(local);
        close_peer();
    }
    void close_peer()
    {
        if (peer >= 0)
            close(peer);
        peer = -1;
    }
};

// Peer that sends each chunk in its own write with a pause in between, and
// then closes its end.
std::thread send_chunks(SocketPair& s, std::vector<Bytes> chunks)
{
    return std::thread([&s, chunks]() {
        for (const Bytes& c : chunks) {
            ASSERT_EQ(write(s.peer, c.data(), c.size()), static_cast<ssize_t>(c.size()));
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        s.close_peer();
    });
}

uint8_t read_chunks(std::vector<Bytes> chunks, Packet* p)
{
    SocketPair s;
    EXPECT_GE(s.local, 0);
    std::thread peer = send_chunks(s, chunks);
    uint8_t result = get_Packet_Read(s.local, p);
    peer.join();
    return result;
}

Bytes read_until_closed(int fd)
{
    Bytes out;
    uint8_t buffer[512];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    return out;
}

Bytes written_image(const Packet& p)
{
    SocketPair s;
    EXPECT_EQ(set_Packet_Write(s.local, p), 0);
    shutdown(s.local, SHUT_WR);
    return read_until_closed(s.peer);
}

const Bytes float_report{9, 0x01, 0x45, 0x05, 0x00, 0x00, 0x00, 0x2A, 0x42};

}  // namespace

TEST(StreamRead, WholePacketWithoutData)
{
    Packet p;
    ASSERT_EQ(read_chunks({{5, 0x81, 0x83, 14, 2}}, &p), 0);
    EXPECT_EQ(p.packet_length, 5);
    EXPECT_EQ(get_Packet_Node_ID(p), NODE_ID::NAREL_1);
    EXPECT_EQ(get_Packet_Type(p), PACKET_TYPE::READ);
    EXPECT_EQ(get_Packet_Address(p), ADDRESS::NETWORK);
    EXPECT_EQ(get_Packet_Subaddress(p), 2);
    EXPECT_EQ(p.data, nullptr);
}

TEST(StreamRead, PacketSplitAcrossWritesWithPauses)
{
    Packet whole, split;
    ASSERT_EQ(read_chunks({float_report}, &whole), 0);
    ASSERT_EQ(read_chunks({{9}, {0x01, 0x45, 0x05, 0x00}, {0x00, 0x00, 0x2A, 0x42}}, &split), 0);
    EXPECT_EQ(written_image(split), float_report);
    EXPECT_EQ(written_image(whole), float_report);
    EXPECT_EQ(get_Packet_Data_Count(split), 1);
}

TEST(StreamRead, PingAndShortLengths)
{
    Packet p;
    init_Packet(&p, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::BOOT, 9, DATA_TYPE::UINT8, "ab", 2);
    ASSERT_EQ(read_chunks({{3, 0x02, 0x01}}, &p), 0);
    EXPECT_EQ(get_Packet_Type(p), PACKET_TYPE::PING);
    EXPECT_EQ(get_Packet_Address(p), ADDRESS::DESCRIPTION);
    EXPECT_EQ(get_Packet_Subaddress(p), 0);
    EXPECT_EQ(get_Packet_Data_Length(p), 0);
    EXPECT_EQ(p.data, nullptr);

    // Lengths 0 and 1 end after the length byte, 2 after one more byte: the
    // byte that follows belongs to the next packet.
    SocketPair s;
    std::thread peer = send_chunks(s, {{0, 1, 2, 0x7F, 3, 0x05, 0x06}});
    EXPECT_EQ(get_Packet_Read(s.local, &p), 0);
    EXPECT_EQ(p.packet_length, 0);
    EXPECT_EQ(get_Packet_Read(s.local, &p), 0);
    EXPECT_EQ(p.packet_length, 1);
    EXPECT_EQ(get_Packet_Read(s.local, &p), 0);
    EXPECT_EQ(p.packet_length, 2);
    EXPECT_EQ(p.packet_control1, 0x7F);
    EXPECT_EQ(get_Packet_Read(s.local, &p), 0);
    EXPECT_EQ(p.packet_control2, 0x06);
    peer.join();
}

TEST(StreamRead, LongestPacket)
{
    Bytes bytes{255, 0x00, 0x05, 0x00, 0x06};
    for (int i = 0; i < 250; ++i)
        bytes.push_back(static_cast<uint8_t>(i));
    Packet p;
    ASSERT_EQ(read_chunks({Bytes(bytes.begin(), bytes.begin() + 100), Bytes(bytes.begin() + 100, bytes.end())}, &p), 0);
    EXPECT_EQ(get_Packet_Data_Length(p), 250);
    EXPECT_EQ(p.data[249], 249);
}

TEST(StreamRead, PeerClosesInEachPhase)
{
    Packet p;
    init_Packet(&p, NODE_ID::BMC, false, PACKET_TYPE::WRITE, false, ADDRESS::BOOT, 9, DATA_TYPE::UINT8, "ab", 2);
    EXPECT_EQ(read_chunks({}, &p), 1);
    EXPECT_EQ(p.packet_length, 7);  // untouched
    EXPECT_EQ(p.subaddress, 9);
    EXPECT_EQ(read_chunks({{20}, {0x01, 0x05}}, &p), 2);
    EXPECT_EQ(p.packet_length, 20);
    EXPECT_EQ(read_chunks({{20, 0x01, 0x05, 0x00, 0x00}, {1, 2, 3, 4, 5, 6, 7}}, &p), 3);
    EXPECT_EQ(p.packet_length, 20);
    ASSERT_NE(p.data, nullptr);
    EXPECT_EQ(p.data[6], 7);
}

TEST(StreamWrite, SendsTheByteImage)
{
    Packet ping;
    init_Packet(&ping, NODE_ID::NAREL_7, false, PACKET_TYPE::PING, true, ADDRESS::NETWORK, 3, DATA_TYPE::UINT8, nullptr,
                0);
    EXPECT_EQ(written_image(ping), (Bytes{3, 0x07, 0x81}));

    Packet report;
    const char* text = "Ubuntu 22.04";
    init_Packet(&report, NODE_ID::NAREL_1, false, PACKET_TYPE::WRITE, false, ADDRESS::DESCRIPTION,
                SUBADDRESS_DESCRIPTION_OS, DATA_TYPE::STRING, text, 13);
    Bytes expected{18, 0x01, 0x55, 0x00, 0x05};
    expected.insert(expected.end(), text, text + 13);
    EXPECT_EQ(written_image(report), expected);
}

TEST(StreamWrite, FailureCodes)
{
    signal(SIGPIPE, SIG_IGN);
    Packet report;
    ASSERT_EQ(read_chunks({float_report}, &report), 0);
    {
        SocketPair s;
        s.close_peer();
        EXPECT_EQ(set_Packet_Write(s.local, report), 1);
    }
    // A non-blocking pipe with room for exactly the 5 header bytes: the header
    // goes out, the data write fails.
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    int capacity = fcntl(fds[1], F_GETPIPE_SZ);
    ASSERT_GT(capacity, 5);
    Bytes filler(capacity - 5, 0);
    ASSERT_EQ(write(fds[1], filler.data(), filler.size()), static_cast<ssize_t>(filler.size()));
    EXPECT_EQ(set_Packet_Write(fds[1], report), 2);
    EXPECT_EQ(set_Packet_Write(fds[1], report), 1);  // now full
    close(fds[0]);
    close(fds[1]);
}

TEST(StreamWrite, RecordWithoutItsDataSendsNothing)
{
    // A refused data store leaves the length counting bytes that are gone;
    // a copy of such a record has no array either.
    Packet source;
    ASSERT_EQ(read_chunks({float_report}, &source), 0);
    ASSERT_EQ(set_Packet_Data(&source, DATA_TYPE::UINT64, "", 40), 2);
    Packet copy;
    init_Packet(&copy, source);

    SocketPair s;
    EXPECT_EQ(set_Packet_Write(s.local, source), 2);
    EXPECT_EQ(set_Packet_Write(s.local, copy), 2);
    shutdown(s.local, SHUT_WR);
    EXPECT_EQ(read_until_closed(s.peer), Bytes{});
}

TEST(StreamRoundTrip, ReadBackAndWriteBackByteForByte)
{
    Bytes stream;
    const Bytes images[] = {float_report, {3, 0x85, 0x02}, {5, 0x00, 0x87, 0xFF, 0xEE},
                            {1},          {2, 0x11},       {12, 0x20, 0x7F, 0x0E, 0x07, 1, 2, 3, 4, 5, 6, 7}};
    for (const Bytes& b : images)
        stream.insert(stream.end(), b.begin(), b.end());

    SocketPair in, out;
    std::thread peer =
        send_chunks(in, {Bytes(stream.begin(), stream.begin() + 7), Bytes(stream.begin() + 7, stream.end())});
    for (size_t i = 0; i < sizeof images / sizeof images[0]; ++i) {
        Packet p;
        ASSERT_EQ(get_Packet_Read(in.local, &p), 0);
        ASSERT_EQ(set_Packet_Write(out.local, p), 0);
    }
    peer.join();
    shutdown(out.local, SHUT_WR);
    EXPECT_EQ(read_until_closed(out.peer), stream);
}
