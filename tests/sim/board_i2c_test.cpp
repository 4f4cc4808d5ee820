// The board's dev/i2c-0: transactions with the simulated BMC, probes, faults.
#include <chrono>
#include <thread>

#include "board_fixture.h"

namespace {

using namespace std::chrono_literals;
using sim_test::BoardTest;
using sim_test::I2cFile;
using vboard::Bytes;

Bytes pattern(size_t length)
{
    Bytes frame(length);
    frame[0] = static_cast<uint8_t>(length);
    for (size_t i = 1; i < length; ++i) {
        frame[i] = static_cast<uint8_t>(i * 7 + 1);
    }
    return frame;
}

Bytes padded(Bytes frame, size_t length)
{
    frame.resize(length, 0);
    return frame;
}

using I2cRead = BoardTest;

TEST_F(I2cRead, ReturnsPendingFramesOldestFirstPaddedToTheReadLength)
{
    board_->queue_bmc_frame(pattern(3));
    board_->queue_bmc_frame(pattern(200));
    board_->queue_bmc_frame(pattern(255));
    EXPECT_EQ(board_->pending_frames(), 3u);
    I2cFile bus(vboard::bmc_address);
    EXPECT_EQ(bus.read_frame(256), padded(pattern(3), 256));
    EXPECT_EQ(bus.read_frame(256), padded(pattern(200), 256));
    EXPECT_EQ(board_->pending_frames(), 1u);
    EXPECT_EQ(bus.read_frame(256), padded(pattern(255), 256));
    EXPECT_EQ(board_->pending_frames(), 0u);
    EXPECT_EQ(bus.read_frame(256), Bytes(256, 0)) << "nothing pending reads as zeros";
}

TEST_F(I2cRead, ShortReadCutsTheFrameAndDeliversIt)
{
    board_->queue_bmc_frame(pattern(20));
    I2cFile bus(vboard::bmc_address);
    const Bytes frame = pattern(20);
    EXPECT_EQ(bus.read_frame(4), Bytes(frame.begin(), frame.begin() + 4));
    EXPECT_EQ(board_->pending_frames(), 0u);
}

TEST_F(I2cRead, EachReadIsOneTransaction)
{
    I2cFile bus(vboard::bmc_address);
    bus.read_frame(256);
    bus.read_frame(17);
    const auto log = board_->transactions();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].kind, vboard::TransactionKind::READ);
    EXPECT_EQ(log[0].address, vboard::bmc_address);
    EXPECT_EQ(log[0].length, 256u);
    EXPECT_EQ(log[1].length, 17u);
    EXPECT_EQ(log[1].error, 0);
}

using I2cWrite = BoardTest;

TEST_F(I2cWrite, EachWriteIsOneFrameKeptByteForByte)
{
    I2cFile bus(vboard::bmc_address);
    for (size_t length : {3u, 200u, 255u}) {
        EXPECT_EQ(bus.write_frame(pattern(length)), 0);
    }
    const auto frames = board_->received_frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].raw, pattern(3));
    EXPECT_EQ(frames[1].raw, pattern(200));
    EXPECT_EQ(frames[2].raw, pattern(255));
    EXPECT_EQ(frames[1].decoded.length, 200u);
    EXPECT_LE(frames[0].time, frames[2].time);
    const auto log = board_->transactions();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[2].kind, vboard::TransactionKind::WRITE);
    EXPECT_EQ(log[2].length, 255u);
}

TEST_F(I2cWrite, WaitReceivedWakesWhenTheNodeWrites)
{
    std::thread node([] {
        std::this_thread::sleep_for(50ms);
        I2cFile(vboard::bmc_address).write_frame(vboard::network_apply_frame());
    });
    EXPECT_TRUE(board_->wait_received(1, 5s));
    node.join();
    EXPECT_FALSE(board_->wait_received(2, 30ms));
}

TEST_F(I2cWrite, AttentionLineFollowsPendingFrames)
{
    EXPECT_TRUE(board_->attention_line_high());
    board_->queue_bmc_frame(pattern(6));
    EXPECT_FALSE(board_->attention_line_high());
    I2cFile(vboard::bmc_address).read_frame(256);
    EXPECT_TRUE(board_->attention_line_high());
    EXPECT_TRUE(board_->wait_delivered(10ms));
}

using I2cProbe = BoardTest;

TEST_F(I2cProbe, SucceedsOnlyWhereADeviceAnswers)
{
    EXPECT_EQ(I2cFile(vboard::bmc_address).probe(), 0);
    EXPECT_EQ(I2cFile(vboard::sensor_address_4c).probe(), 0);
    EXPECT_EQ(I2cFile(vboard::sensor_address_4d).probe(), ENXIO);
    EXPECT_EQ(I2cFile(0x50).probe(), ENXIO);
    board_->add_sensor(vboard::sensor_address_4d, false);
    EXPECT_EQ(I2cFile(vboard::sensor_address_4d).probe(), 0);
    board_->remove_sensor(vboard::sensor_address_4c);
    EXPECT_EQ(I2cFile(vboard::sensor_address_4c).probe(), ENXIO);
    const auto log = board_->transactions();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[3].kind, vboard::TransactionKind::PROBE);
    EXPECT_EQ(log[3].address, 0x50);
    EXPECT_EQ(log[3].error, ENXIO);
}

TEST_F(I2cProbe, NoSensorAtAllWhenTheBoardHasNone)
{
    vboard::BoardOptions options;
    options.sensors_present = vboard::SENSOR_NONE;
    board_.reset();
    mount(options);
    EXPECT_EQ(I2cFile(vboard::sensor_address_4c).probe(), ENXIO);
    EXPECT_EQ(I2cFile(vboard::sensor_address_4d).probe(), ENXIO);
}

TEST_F(I2cProbe, TransfersWithoutADeviceFailWithEnxio)
{
    I2cFile nobody(0x50);
    int error = 0;
    EXPECT_TRUE(nobody.read_frame(4, &error).empty());
    EXPECT_EQ(error, ENXIO);
    EXPECT_EQ(nobody.write_frame(Bytes{1, 2}), ENXIO);
    EXPECT_TRUE(board_->received_frames().empty());
}

TEST_F(I2cProbe, SlaveAddressIsPerOpenFileAndSevenBit)
{
    I2cFile bmc(vboard::bmc_address);
    I2cFile other(0x50);
    EXPECT_EQ(bmc.write_frame(pattern(3)), 0);
    EXPECT_EQ(other.write_frame(pattern(3)), ENXIO);
    EXPECT_EQ(ioctl(bmc.fd(), I2C_SLAVE, 0x80), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(bmc.write_frame(pattern(3)), 0) << "a refused address keeps the old one";
}

using I2cFaults = BoardTest;

TEST_F(I2cFaults, FailedWritesAreNackedAndNotReceived)
{
    board_->fail_next_writes(2);
    I2cFile bus(vboard::bmc_address);
    EXPECT_EQ(bus.write_frame(pattern(3)), EREMOTEIO);
    EXPECT_EQ(bus.write_frame(pattern(4)), EREMOTEIO);
    EXPECT_EQ(bus.write_frame(pattern(5)), 0);
    const auto frames = board_->received_frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].raw, pattern(5));
    EXPECT_EQ(board_->transactions()[0].error, EREMOTEIO);
}

TEST_F(I2cFaults, DroppedBmcAnswersNothing)
{
    board_->queue_bmc_frame(pattern(6));
    board_->set_bmc_present(false);
    I2cFile bus(vboard::bmc_address);
    int error = 0;
    bus.read_frame(256, &error);
    EXPECT_EQ(error, ENXIO);
    EXPECT_EQ(bus.write_frame(pattern(3)), ENXIO);
    EXPECT_EQ(bus.probe(), ENXIO);
    EXPECT_EQ(board_->pending_frames(), 1u);
    board_->set_bmc_present(true);
    EXPECT_EQ(bus.read_frame(256), padded(pattern(6), 256));
}

TEST_F(I2cFaults, StallDelaysEachBmcTransaction)
{
    board_->set_stall(150ms);
    I2cFile bus(vboard::bmc_address);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bus.write_frame(pattern(3)), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
    board_->set_stall(0ms);
    const auto again = std::chrono::steady_clock::now();
    bus.read_frame(256);
    EXPECT_LT(std::chrono::steady_clock::now() - again, 150ms);
}

TEST_F(I2cFaults, StalledBmcDoesNotHoldUpOtherFiles)
{
    board_->set_stall(400ms);
    std::thread node([] { I2cFile(vboard::bmc_address).write_frame(pattern(3)); });
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim_test::read_text(sys("class/gpio/export")).substr(0, 6), "<errno");  // write-only
    EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
    node.join();
}

// A killed caller cannot abandon a request that reached the board, so a hung
// BMC must be able to let go of it.
TEST_F(I2cFaults, LiftingTheStallEndsTransfersWaitingOnIt)
{
    board_->set_stall(10s);
    const auto start = std::chrono::steady_clock::now();
    int written = -1;
    std::thread node([&] { written = I2cFile(vboard::bmc_address).write_frame(pattern(3)); });
    std::this_thread::sleep_for(100ms);
    board_->set_stall(0ms);
    node.join();
    EXPECT_EQ(written, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace

namespace {

using BoardLifetime = sim_test::BoardTest;

TEST_F(BoardLifetime, UnmountsWithAFileStillOpen)
{
    sim_test::I2cFile bus(vboard::bmc_address);
    ASSERT_EQ(bus.write_frame(pattern(3)), 0);
    const auto start = std::chrono::steady_clock::now();
    board_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(bus.write_frame(pattern(3)), ENOTCONN);
    EXPECT_NE(access((sim_test::sysroot() + "/dev/i2c-0").c_str(), F_OK), 0);
    mount();  // the next board mounts at the same place
    EXPECT_EQ(sim_test::I2cFile(vboard::bmc_address).write_frame(pattern(3)), 0);
}

}  // namespace
