// The BMC I2C link against the virtual board: start and stop, frames the
// node writes, responses and their deadline, and the transmit queue.
#include <cmath>
#include <cstring>
#include <thread>
#include <tuple>

#include "link_fixture.h"

namespace link_test {
namespace {

// --- start and stop ------------------------------------------------------------

TEST_F(LinkTest, StopBeforeAnyStartReturnsAtOnce)
{
    set_I2C_BMC_Packet_Thread_Stop();
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
}

TEST_F(LinkTest, NullErrorCallbackIsRefusedAndRequestsFindNoLink)
{
    EXPECT_EQ(init_I2C_BMC_Packet_Thread(nullptr, nullptr), 1);
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
    BMC::Packet request;
    BMC::Packet response;
    make_ping(&request, BMC::NODE_ID::NAREL_1, true);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 1);
    EXPECT_EQ(response.packet_length, 0);
}

TEST_F(LinkTest, StartPreparesTheAttentionLineAndStopEndsTheLink)
{
    start();
    EXPECT_TRUE(get_I2C_BMC_Packet_Thread_Start_Flag());
    std::vector<std::pair<std::string, std::string>> writes;
    for (const auto& w : board_->gpio_writes()) {
        writes.emplace_back(w.path, w.bytes);
    }
    EXPECT_EQ(writes, (std::vector<std::pair<std::string, std::string>>{
                          {"/sys/class/gpio/export", std::string("480", 4)},
                          {"/sys/class/gpio/gpio480/direction", std::string("in", 3)},
                          {"/sys/class/gpio/gpio480/active_low", std::string("0", 2)},
                          {"/sys/class/gpio/gpio480/edge", "falling"}}));
    EXPECT_EQ(init_I2C_BMC_Packet_Thread(nullptr, daemon_error_handler), 2);

    set_I2C_BMC_Packet_Thread_Stop();
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
    BMC::Packet ping;
    BMC::Packet response;
    make_ping(&ping, BMC::NODE_ID::NAREL_1, false);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(ping, &response), 1);

    // Started again: the line is exported already; only its edge is chosen.
    start();
    ASSERT_EQ(board_->gpio_writes().size(), 5u);
    EXPECT_EQ(board_->gpio_writes()[4].path, "/sys/class/gpio/gpio480/edge");
    EXPECT_EQ(board_->gpio_writes()[4].bytes, "falling");
    EXPECT_EQ(set_I2C_BMC_Packet_Request(ping, &response), 0);
    EXPECT_TRUE(board_->wait_received(1, 2000ms));
}

TEST_F(LinkTest, StartWithoutTheBoardEndsTheWorkerAndReportsIt)
{
    // Nothing is mounted: neither the GPIO tree nor the I2C device exist.
    capture();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(init_I2C_BMC_Packet_Thread(nullptr, daemon_error_handler), 3);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    const std::string gpio = std::string(NODEKEEPER_TEST_SYSROOT) + "/sys/class/gpio/";
    // Each failure where it happened, one whole line each, with path and cause.
    EXPECT_EQ(captured(), "[ERROR] init_GPIO: open() error: " + gpio + "export: No such file or directory\n" +
                              "[ERROR] I2C_BMC_Packet_Thread: open() error: " + gpio +
                              "gpio480/value: No such file or directory\n");
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
}

// --- waiting on the attention line ---------------------------------------------

TEST_F(LinkTest, IdleLinkSleepsAndStopWakesItAtOnce)
{
    start();
    usleep(200 * 1000);
    const uint64_t before = get_link_loop_count();
    usleep(2000 * 1000);
    // One look a second at most (a 20 ms sampling loop would run 100 times).
    EXPECT_LE(get_link_loop_count() - before, 4u);
    const auto begin = std::chrono::steady_clock::now();
    set_I2C_BMC_Packet_Thread_Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 500ms) << "not woken by the stop call";
    EXPECT_FALSE(get_I2C_BMC_Packet_Thread_Start_Flag());
}

TEST_F(LinkTest, BurstWhileTheLineStaysLowIsReadFramePerPassTwentyMsApart)
{
    start();
    usleep(200 * 1000);  // idle: waiting for the line
    for (int i = 0; i < 10; ++i) {
        board_->queue_bmc_frame({3, 0x00, 0x01});  // one fall, then the line stays low
    }
    // Without waiting for a new edge: one frame a second would take 10 s.
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_TRUE(board_->wait_delivered(5000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    std::vector<std::chrono::steady_clock::time_point> reads;
    for (const auto& t : board_->transactions()) {
        if (t.kind == vboard::TransactionKind::READ) {
            reads.push_back(t.time);
        }
    }
    ASSERT_EQ(reads.size(), 10u);
    for (size_t i = 1; i < reads.size(); ++i) {
        EXPECT_GE(reads[i] - reads[i - 1], 20ms) << "read " << i;
    }
}

TEST_F(LinkTest, LineWithoutInterruptIsSampledEveryTwentyMs)
{
    vboard::BoardOptions options;
    options.exported_gpios = {480};
    options.attention_interrupt = false;
    mount(options);
    capture();
    start();
    usleep(200 * 1000);
    const uint64_t before = get_link_loop_count();
    usleep(1000 * 1000);
    EXPECT_GE(get_link_loop_count() - before, 10u) << "about 50 looks a second";
    board_->queue_bmc_frame({3, 0x00, 0x01});
    EXPECT_TRUE(board_->wait_delivered(2000ms));
    set_I2C_BMC_Packet_Thread_Stop();
    EXPECT_EQ(captured(), "[INFO] I2C_BMC_Packet_Thread: attention line has no interrupt, sampling it every 20 ms\n");
    std::vector<std::tuple<std::string, std::string, int>> writes;
    for (const auto& w : board_->gpio_writes()) {
        writes.emplace_back(w.path, w.bytes, w.error);
    }
    EXPECT_EQ(writes,
              (std::vector<std::tuple<std::string, std::string, int>>{{"/sys/class/gpio/gpio480/edge", "falling", EIO},
                                                                      {"/sys/class/gpio/gpio480/edge", "none", 0}}));
}

// The line's value file starts failing (its controller goes, taking the line
// with it, while the line is low): the BMC is not read on a level nobody saw,
// queued packets still go out, the watchdog's counter stands still, and once
// the controller is back the link gets the line back within about a second.
TEST_F(LinkTest, LostLineIsNotReadQueuedPacketsGoAndTheLineComesBack)
{
    start();
    board_->set_stall(300ms);  // the link is inside its first read when the line goes
    board_->queue_bmc_frame({3, 0x00, 0x01});
    board_->queue_bmc_frame({3, 0x00, 0x01});
    usleep(100 * 1000);
    capture();
    board_->set_gpio_controller_present(false);
    board_->set_stall(0ms);

    BMC::Packet ping;
    BMC::Packet response;
    make_ping(&ping, BMC::NODE_ID::NAREL_1, false);
    ASSERT_EQ(set_I2C_BMC_Packet_Request(ping, &response), 0);
    EXPECT_TRUE(board_->wait_received(1, 2000ms)) << "queued packets go out while the line is lost";
    const uint64_t looks = get_link_loop_count();
    usleep(1200 * 1000);
    EXPECT_EQ(get_link_loop_count(), looks) << "no progress for the watchdog while the line is lost";
    EXPECT_GE(board_->pending_frames(), 1u) << "the BMC was read on a stale level";

    board_->set_gpio_controller_present(true);
    const auto back = std::chrono::steady_clock::now();
    ASSERT_TRUE(board_->wait_delivered(3000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - back, 2000ms);
    EXPECT_GT(get_link_loop_count(), looks);
    set_I2C_BMC_Packet_Thread_Stop();

    const std::string value = std::string(NODEKEEPER_TEST_SYSROOT) + "/sys/class/gpio/gpio480/value";
    EXPECT_EQ(captured(), "[ERROR] I2C_BMC_Packet_Thread: attention line read error: " + value +
                              ": No such device\n[INFO] I2C_BMC_Packet_Thread: attention line back: " + value + "\n");
    // About one attempt a second while the controller was away, the last one
    // sets the line up again.
    std::vector<std::pair<std::string, int>> exports;
    for (const auto& w : board_->gpio_writes()) {
        if (w.path == "/sys/class/gpio/export") {
            exports.emplace_back(w.bytes, w.error);
        }
    }
    ASSERT_GE(exports.size(), 3u);
    EXPECT_LE(exports.size(), 5u);
    EXPECT_EQ(exports[1], std::make_pair(std::string("480", 4), EINVAL));
    EXPECT_EQ(exports.back(), std::make_pair(std::string("480", 4), 0));
    EXPECT_EQ(board_->gpio_writes().back().path, "/sys/class/gpio/gpio480/edge");
    EXPECT_EQ(board_->gpio_writes().back().bytes, "falling");
}

// --- transmission ------------------------------------------------------------

TEST_F(LinkTest, PacketsAreWrittenByteExactOnePerTransaction)
{
    start();
    BMC::Packet ping;
    make_ping(&ping, BMC::NODE_ID::NAREL_5, false);
    BMC::Packet text;
    const char os[] = "Debian 12 ok";  // 12 characters
    BMC::init_Packet(&text, BMC::NODE_ID::NAREL_5, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION,
                     BMC::SUBADDRESS_DESCRIPTION_OS, BMC::DATA_TYPE::STRING, os, 13);
    Bytes data(250);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 7);
    }
    BMC::Packet longest;
    BMC::init_Packet(&longest, BMC::NODE_ID::NAREL_5, true, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::STATUS, 6,
                     BMC::DATA_TYPE::UINT8, data.data(), 250);

    BMC::Packet response;
    EXPECT_EQ(set_I2C_BMC_Packet_Request(ping, &response), 0);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(text, &response), 0);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(longest, &response), 0);
    EXPECT_EQ(response.packet_length, 0);  // nothing asked for, nothing filled
    ASSERT_TRUE(board_->wait_received(3, 2000ms));

    Bytes text_frame = {18, 0x05, 0x55, 0, 5};
    text_frame.insert(text_frame.end(), os, os + 13);
    Bytes longest_frame = {255, 0x85, 0x05, 5, 6};
    longest_frame.insert(longest_frame.end(), data.begin(), data.end());
    EXPECT_EQ(received(), (std::vector<Bytes>{{3, 0x05, 0x01}, text_frame, longest_frame}));
    std::vector<size_t> write_lengths;
    for (const auto& t : board_->transactions()) {
        EXPECT_EQ(t.address, vboard::bmc_address);
        if (t.kind == vboard::TransactionKind::WRITE) {
            write_lengths.push_back(t.length);
        }
    }
    EXPECT_EQ(write_lengths, (std::vector<size_t>{3, 18, 255}));
}

TEST_F(LinkTest, NullResponseIsRefusedAndNothingIsSent)
{
    start();
    BMC::Packet ping;
    make_ping(&ping, BMC::NODE_ID::NAREL_1, false);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(ping, nullptr), 2);
    usleep(100 * 1000);
    EXPECT_TRUE(board_->received_frames().empty());
}

TEST_F(LinkTest, PendingFramesOfTheBmcAreReadBeforeAnythingIsWritten)
{
    mount();
    for (int i = 0; i < 3; ++i) {
        board_->queue_bmc_frame({3, 0x00, 0x01});
    }
    start();
    BMC::Packet ping;
    BMC::Packet response;
    make_ping(&ping, BMC::NODE_ID::NAREL_2, false);
    ASSERT_EQ(set_I2C_BMC_Packet_Request(ping, &response), 0);
    ASSERT_TRUE(board_->wait_received(1, 2000ms));
    std::vector<std::pair<vboard::TransactionKind, size_t>> seen;
    for (const auto& t : board_->transactions()) {
        seen.emplace_back(t.kind, t.length);
    }
    const auto R = vboard::TransactionKind::READ;
    EXPECT_EQ(seen, (std::vector<std::pair<vboard::TransactionKind, size_t>>{
                        {R, 256}, {R, 256}, {R, 256}, {vboard::TransactionKind::WRITE, 3}}));
}

// --- responses ---------------------------------------------------------------

TEST_F(LinkTest, GoodWriteAnswersWithPingResponse)
{
    start();
    BMC::Packet request;
    make_ping(&request, BMC::NODE_ID::NAREL_9, true);
    BMC::Packet response;
    BMC::init_Packet(&response, BMC::NODE_ID::NAREL_1, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION,
                     0, BMC::DATA_TYPE::UINT8, "old data", 9);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_EQ(header_of(response), (Bytes{3, 0x00, 0x02}));
    EXPECT_EQ(response.data, nullptr);
    EXPECT_EQ(received(), (std::vector<Bytes>{{3, 0x09, 0x81}}));
    EXPECT_EQ(error_calls, 0);
}

TEST_F(LinkTest, FailedWritesReachTheCallbackWithTheirPacketAndAnOutageIsLoggedOnce)
{
    start();
    board_->fail_next_writes(3);
    capture();
    BMC::Packet request;
    make_ping(&request, BMC::NODE_ID::NAREL_2, true);
    BMC::Packet response;
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 0);
    EXPECT_EQ(header_of(response), (Bytes{5, 0x00, 0x00, 0, 0}));
    EXPECT_EQ(error_calls, 2);  // after the write and again after the response was built
    EXPECT_EQ(last_error_code, 1);

    // Two more writes fail, then one succeeds. The link never writes a packet twice.
    make_ping(&request, BMC::NODE_ID::NAREL_2, false);
    BMC::Packet text;
    BMC::init_Packet(&text, BMC::NODE_ID::BMC, false, BMC::PACKET_TYPE::WRITE, false, BMC::ADDRESS::DESCRIPTION, 2,
                     BMC::DATA_TYPE::STRING, "1.2.3.4", 8);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 0);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(text, &response), 0);
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 0);
    ASSERT_TRUE(board_->wait_received(1, 2000ms));
    set_I2C_BMC_Packet_Thread_Stop();
    const std::string callback = "[ERROR] BMC_Packet_Receive_Error_Handler: \n";
    EXPECT_EQ(captured(),
              "[ERROR] set_I2C_Packet_Write: packet write failed, -1, Remote I/O error: " NODEKEEPER_TEST_SYSROOT
              "/dev/i2c-0\n" +
                  callback + callback + "[INFO] set_I2C_Packet_Write: packet writes succeed again after 3 failed\n");
    EXPECT_EQ(failures_seen(),
              (std::vector<SeenFailure>{
                  {{3, 0x02, 0x81}, 1}, {{3, 0x02, 0x81}, 1}, {{3, 0x02, 0x01}, 2}, {{13, 0x00, 0x55, 0x00, 2}, 3}}));
    EXPECT_EQ(received(), (std::vector<Bytes>{{3, 0x02, 0x01}}));
    EXPECT_EQ(get_link_write_failure().packet, nullptr) << "outside the callback";
}

TEST(RequestDeadline, WholeSecondPlusThree)
{
    // 12:00:00.900 gives up at 12:00:03.000, 2.1 s later; x.000 3 s later.
    const time_t noon = 1796040000;
    struct timespec deadline = compute_request_deadline(timeval{noon, 900000});
    EXPECT_EQ(deadline.tv_sec, noon + 3);
    EXPECT_EQ(deadline.tv_nsec, 0);
    deadline = compute_request_deadline(timeval{noon, 0});
    EXPECT_EQ(deadline.tv_sec, noon + 3);
    EXPECT_EQ(deadline.tv_nsec, 0);
}

TEST_F(LinkTest, UnansweredRequestGivesUpAtTheWholeSecondPlusThree)
{
    start();
    // The BMC keeps the line low past the deadline: the link reads its
    // frames, one per pass, and writes nothing meanwhile.
    for (int i = 0; i < 250; ++i) {
        board_->queue_bmc_frame({3, 0x00, 0x01});
    }
    // Ask at x.9 s: the deadline is x + 3, 2.1 s later, not 3 s.
    const double now = wall_now();
    usleep(static_cast<useconds_t>((std::floor(now) + 1.9 - now) * 1e6));
    const double asked = wall_now();
    BMC::Packet request;
    make_ping(&request, BMC::NODE_ID::NAREL_7, true);
    BMC::Packet response;
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 0);
    const double returned = wall_now();
    EXPECT_NEAR(returned, std::floor(asked) + 3.0, 0.15) << "asked at " << std::fixed << asked;
    EXPECT_EQ(header_of(response), (Bytes{5, 0x07, 0x00, 0, 0}));
    EXPECT_TRUE(board_->received_frames().empty());
}

TEST_F(LinkTest, LateResponseIsHandedToTheNextRequesterAtOnce)
{
    start();
    board_->set_stall(3000ms);
    BMC::Packet request;
    make_ping(&request, BMC::NODE_ID::NAREL_3, true);
    BMC::Packet response;
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 0);
    EXPECT_EQ(header_of(response), (Bytes{5, 0x03, 0x00, 0, 0}));

    ASSERT_TRUE(board_->wait_received(1, 2000ms));
    board_->set_stall(0ms);
    usleep(100 * 1000);  // the worker queues the late response after its write returns
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(set_I2C_BMC_Packet_Request(request, &response), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 300ms);
    EXPECT_EQ(header_of(response), (Bytes{3, 0x00, 0x02}));
}

// --- the transmit queue ------------------------------------------------------

TEST_F(LinkTest, FullTransmitQueueRefusesTheCopyAtOnce)
{
    start();
    // While the BMC holds the line low the link only reads: nothing leaves
    // the transmit queue.
    for (int i = 0; i < 300; ++i) {
        board_->queue_bmc_frame({3, 0x00, 0x01});
    }
    BMC::Packet ping;
    BMC::Packet response;
    make_ping(&ping, BMC::NODE_ID::NAREL_4, false);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(set_I2C_BMC_Packet_Request(ping, &response), 0) << i;
    }
    EXPECT_EQ(set_I2C_BMC_Packet_Request(ping, &response), 3);

    BMC::Packet asking;
    make_ping(&asking, BMC::NODE_ID::NAREL_6, true);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(set_I2C_BMC_Packet_Request(asking, &response), 3);
    // Well before the 2 to 3 s a requester would wait for a response; the
    // margin keeps a busy machine from failing the check.
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1s);
    EXPECT_EQ(header_of(response), (Bytes{5, 0x06, 0x00, 0, 0}));

    // Stopping frees what is still queued (the restart gives the queues new
    // slot arrays: a packet not freed would leak); nothing is sent.
    set_I2C_BMC_Packet_Thread_Stop();
    EXPECT_TRUE(board_->received_frames().empty());
    start();
}

TEST_F(LinkTest, ConcurrentRequestersAllGetTheirResponses)
{
    start();
    std::atomic<int> answered{0};
    std::vector<std::thread> requesters;
    for (int t = 0; t < 3; ++t) {
        requesters.emplace_back([&answered, t] {
            for (int i = 0; i < 10; ++i) {
                BMC::Packet request;
                make_ping(&request, static_cast<BMC::NODE_ID>(t + 1), true);
                BMC::Packet response;
                if (set_I2C_BMC_Packet_Request(request, &response) == 0 &&
                    header_of(response) == Bytes{3, 0x00, 0x02}) {
                    ++answered;
                }
            }
        });
    }
    for (int i = 0; i < 10; ++i) {
        board_->queue_bmc_frame({3, 0x00, 0x01});  // the BMC keeps talking meanwhile
        usleep(30 * 1000);
    }
    for (auto& r : requesters) {
        r.join();
    }
    EXPECT_EQ(answered, 30);
    EXPECT_TRUE(board_->wait_delivered(2000ms));
    EXPECT_EQ(board_->received_frames().size(), 30u);
}

}  // namespace
}  // namespace link_test
