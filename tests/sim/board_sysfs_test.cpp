// The board's sys mount: GPIO export and attributes, the attention line,
// the sensor's new_device, hwmon and temp2_input.
#include <dirent.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "board_fixture.h"

namespace {

using sim_test::BoardTest;
using sim_test::read_text;
using sim_test::write_bytes;

std::vector<std::string> list(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (const dirent* e = readdir(d)) {
        if (e->d_name[0] != '.') {
            names.push_back(e->d_name);
        }
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

bool is_dir(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Output of a shell command, as the sensor module reads it through popen.
std::string shell(const std::string& command)
{
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[256];
    while (pipe && fgets(buffer, sizeof buffer, pipe)) {
        out += buffer;
    }
    if (pipe) {
        pclose(pipe);
    }
    return out;
}

using GpioExport = BoardTest;

TEST_F(GpioExport, CreatesTheLineAndRecordsTheBytes)
{
    EXPECT_FALSE(is_dir(sys("class/gpio/gpio480")));
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), std::string("480\0", 4), O_WRONLY | O_SYNC), 0);
    ASSERT_TRUE(is_dir(sys("class/gpio/gpio480")));
    EXPECT_EQ(list(sys("class/gpio/gpio480")),
              (std::vector<std::string>{"active_low", "direction", "edge", "uevent", "value"}));
    EXPECT_EQ(write_bytes(sys("class/gpio/gpio480/direction"), std::string("in\0", 3)), 0);
    EXPECT_EQ(write_bytes(sys("class/gpio/gpio480/edge"), "none"), 0);
    const auto writes = board_->gpio_writes();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].path, "/sys/class/gpio/export");
    EXPECT_EQ(writes[0].bytes, std::string("480\0", 4));
    EXPECT_EQ(writes[1].path, "/sys/class/gpio/gpio480/direction");
    EXPECT_EQ(writes[1].bytes, std::string("in\0", 3));
    EXPECT_EQ(writes[2].bytes, "none");
    EXPECT_EQ(writes[2].error, 0);
}

TEST_F(GpioExport, AcceptsLineFeedOrNothingAndRefusesTwiceOrGarbage)
{
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), "17\n"), 0);
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), "18"), 0);
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), "17"), EBUSY);
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), "x1"), EINVAL);
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), "9999"), EINVAL);
    EXPECT_TRUE(is_dir(sys("class/gpio/gpio17")));
    EXPECT_TRUE(is_dir(sys("class/gpio/gpio18")));
    EXPECT_EQ(write_bytes(sys("class/gpio/unexport"), "18\n"), 0);
    EXPECT_FALSE(is_dir(sys("class/gpio/gpio18")));
    const auto writes = board_->gpio_writes();
    ASSERT_EQ(writes.size(), 6u);
    EXPECT_EQ(writes[2].error, EBUSY) << "failed writes are recorded too";
}

using GpioAttributes = BoardTest;

TEST_F(GpioAttributes, BehaveLikeTheKernel)
{
    ASSERT_EQ(write_bytes(sys("class/gpio/export"), "20"), 0);
    const std::string line = sys("class/gpio/gpio20/");
    EXPECT_EQ(read_text(line + "direction"), "in\n");
    EXPECT_EQ(write_bytes(line + "value", std::string("1\0", 2)), EPERM) << "inputs take no value";
    EXPECT_EQ(write_bytes(line + "direction", std::string("out\0", 4)), 0);
    EXPECT_EQ(read_text(line + "value"), "0\n");
    EXPECT_EQ(write_bytes(line + "value", std::string("1\0", 2)), 0);
    EXPECT_EQ(read_text(line + "value"), "1\n");
    EXPECT_EQ(write_bytes(line + "active_low", std::string("1\0", 2)), 0);
    EXPECT_EQ(read_text(line + "value"), "0\n");
    EXPECT_EQ(write_bytes(line + "edge", "sideways"), EINVAL);
    EXPECT_EQ(write_bytes(line + "edge", "falling\n"), 0);
    EXPECT_EQ(read_text(line + "edge"), "falling\n");
    EXPECT_EQ(write_bytes(line + "direction", "up"), EINVAL);
}

TEST_F(GpioAttributes, AlreadyExportedAtStart)
{
    vboard::BoardOptions options;
    options.exported_gpios = {480};
    board_.reset();
    mount(options);
    EXPECT_TRUE(is_dir(sys("class/gpio/gpio480")));
    EXPECT_EQ(read_text(sys("class/gpio/gpio480/value")), "1\n");
    EXPECT_TRUE(board_->gpio_writes().empty());
}

using AttentionLine = BoardTest;

TEST_F(AttentionLine, ValueIsLowWhileTheBmcHoldsAFrame)
{
    ASSERT_EQ(write_bytes(sys("class/gpio/export"), std::string("480\0", 4)), 0);
    // The link's way: one descriptor, lseek to 0 and one byte per look.
    const int fd = open(sys("class/gpio/gpio480/value").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto sample = [fd] {
        char c = '?';
        lseek(fd, 0, SEEK_SET);
        return read(fd, &c, 1) == 1 ? c : '!';
    };
    EXPECT_EQ(sample(), '1');
    board_->queue_bmc_frame(vboard::network_apply_frame());
    board_->queue_bmc_frame(vboard::network_apply_frame());
    EXPECT_EQ(sample(), '0');
    sim_test::I2cFile bus(vboard::bmc_address);
    bus.read_frame(256);
    EXPECT_EQ(sample(), '0') << "one frame still pending";
    bus.read_frame(256);
    EXPECT_EQ(sample(), '1');
    EXPECT_EQ(read_text(sys("class/gpio/gpio480/value")), "1\n");
    close(fd);
}

// The value file polls as sysfs does: POLLPRI | POLLERR from an edge the
// edge attribute selects until the next read of that descriptor.
TEST_F(AttentionLine, ValueFileSignalsSelectedEdgesUntilTheNextRead)
{
    ASSERT_EQ(write_bytes(sys("class/gpio/export"), "480"), 0);
    ASSERT_EQ(write_bytes(sys("class/gpio/gpio480/edge"), "falling"), 0);
    const int fd = open(sys("class/gpio/gpio480/value").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto events = [fd](int timeout_ms) {
        struct pollfd p = {fd, POLLPRI | POLLERR, 0};
        return poll(&p, 1, timeout_ms) < 0 ? -1 : p.revents & (POLLPRI | POLLERR);
    };
    auto level = [fd] {
        char c = '?';
        return pread(fd, &c, 1, 0) == 1 ? c : '!';
    };
    const int edge = POLLPRI | POLLERR;
    EXPECT_EQ(events(0), 0) << "no edge since the open";

    // A waiter is woken by the fall.
    std::thread bmc([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        board_->queue_bmc_frame(vboard::network_apply_frame());
    });
    EXPECT_EQ(events(5000), edge);
    bmc.join();
    EXPECT_EQ(events(0), edge) << "kept until read";
    EXPECT_EQ(level(), '0');
    EXPECT_EQ(events(0), 0) << "the read re-arms";
    board_->queue_bmc_frame(vboard::network_apply_frame());
    EXPECT_EQ(events(0), 0) << "still low: no new edge";

    // Only the selected edges count: the rise is not one of them until "both".
    sim_test::I2cFile bus(vboard::bmc_address);
    bus.read_frame(256);
    bus.read_frame(256);
    EXPECT_EQ(events(0), 0);
    ASSERT_EQ(write_bytes(sys("class/gpio/gpio480/edge"), "both"), 0);
    board_->queue_bmc_frame(vboard::network_apply_frame());
    EXPECT_EQ(events(0), edge);
    EXPECT_EQ(level(), '0');
    bus.read_frame(256);
    EXPECT_EQ(events(0), edge) << "the rise";
    EXPECT_EQ(level(), '1');
    ASSERT_EQ(write_bytes(sys("class/gpio/gpio480/edge"), "none"), 0);
    board_->queue_bmc_frame(vboard::network_apply_frame());
    EXPECT_EQ(events(0), 0);

    // epoll takes the file as the link registers it.
    const int ep = epoll_create1(EPOLL_CLOEXEC);
    struct epoll_event event = {};
    event.events = EPOLLPRI | EPOLLERR;
    event.data.fd = fd;
    EXPECT_EQ(epoll_ctl(ep, EPOLL_CTL_ADD, fd, &event), 0) << strerror(errno);
    close(ep);
    close(fd);
}

// Unexport (by anybody, or a controller that goes) removes the line's folder;
// a value file still open is dead for good, as a removed sysfs attribute.
TEST_F(AttentionLine, UnexportLeavesAnOpenValueFileDeadEvenAfterANewExport)
{
    ASSERT_EQ(write_bytes(sys("class/gpio/export"), "480"), 0);
    const int fd = open(sys("class/gpio/gpio480/value").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto events = [fd] {
        struct pollfd p = {fd, POLLPRI | POLLERR, 0};
        return poll(&p, 1, 0) < 0 ? -1 : p.revents & (POLLPRI | POLLERR);
    };
    auto read_error = [fd] {
        char c;
        return pread(fd, &c, 1, 0) < 0 ? errno : 0;
    };
    EXPECT_EQ(read_error(), 0);
    ASSERT_EQ(write_bytes(sys("class/gpio/unexport"), "480"), 0);
    EXPECT_FALSE(is_dir(sys("class/gpio/gpio480")));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(events(), POLLPRI | POLLERR) << "on every poll, " << i;
        EXPECT_EQ(read_error(), ENODEV);
    }
    ASSERT_EQ(write_bytes(sys("class/gpio/export"), "480"), 0);
    EXPECT_EQ(read_error(), ENODEV) << "the new export is another file";
    EXPECT_EQ(read_text(sys("class/gpio/gpio480/value")), "1\n");
    close(fd);

    // The controller goes: its lines with it, and nothing can be exported.
    board_->set_gpio_controller_present(false);
    EXPECT_FALSE(is_dir(sys("class/gpio/gpio480")));
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), "480"), EINVAL);
    board_->set_gpio_controller_present(true);
    EXPECT_EQ(write_bytes(sys("class/gpio/export"), "480"), 0);
    EXPECT_EQ(read_text(sys("class/gpio/gpio480/direction")), "in\n");
}

TEST_F(AttentionLine, LineWithoutInterruptTakesEdgeNoneOnly)
{
    vboard::BoardOptions options;
    options.exported_gpios = {480, 20};
    options.attention_interrupt = false;
    board_.reset();
    mount(options);
    EXPECT_EQ(write_bytes(sys("class/gpio/gpio480/edge"), "falling"), EIO);
    EXPECT_EQ(write_bytes(sys("class/gpio/gpio480/edge"), "both"), EIO);
    EXPECT_EQ(write_bytes(sys("class/gpio/gpio480/edge"), "none"), 0);
    EXPECT_EQ(read_text(sys("class/gpio/gpio480/edge")), "none\n");
    EXPECT_EQ(write_bytes(sys("class/gpio/gpio20/edge"), "falling"), 0) << "other lines keep theirs";
    // The line is still sampled: every read of its value file is counted.
    const int fd = open(sys("class/gpio/gpio480/value").c_str(), O_RDONLY | O_CLOEXEC);
    char c = '?';
    EXPECT_EQ(pread(fd, &c, 1, 0), 1);
    EXPECT_EQ(c, '1');
    board_->queue_bmc_frame(vboard::network_apply_frame());
    EXPECT_EQ(pread(fd, &c, 1, 0), 1);
    EXPECT_EQ(c, '0');
    close(fd);
    EXPECT_EQ(board_->attention_reads(), 2u);
}

using Sensor = BoardTest;

TEST_F(Sensor, NewDeviceBindsTheDriverAndTempFollowsTheBoard)
{
    const std::string client = sys("class/i2c-adapter/i2c-0/0-004c");
    EXPECT_FALSE(is_dir(client + "/hwmon"));
    EXPECT_EQ(shell("echo adm1032 0x4c > " + sys("class/i2c-adapter/i2c-0/new_device") + " && echo done"), "done\n");
    EXPECT_EQ(shell("ls " + client + "/hwmon"), "hwmon1\n");
    EXPECT_EQ(read_text(client + "/hwmon/hwmon1/name"), "adm1032\n");
    EXPECT_EQ(shell("cat " + sys("class/hwmon/hwmon1/temp2_input")), "45500\n");
    board_->set_temperature(-1250);
    EXPECT_EQ(read_text(sys("class/hwmon/hwmon1/temp2_input")), "-1250\n");
    EXPECT_EQ(read_text(client + "/hwmon/hwmon1/temp2_input"), "-1250\n");
    EXPECT_TRUE(board_->gpio_writes().empty()) << "new_device is not a GPIO file";
}

TEST_F(Sensor, NewDeviceWithoutAChipCreatesTheClientButNoHwmon)
{
    EXPECT_EQ(write_bytes(sys("class/i2c-adapter/i2c-0/new_device"), "adm1032 0x4d\n", O_WRONLY | O_TRUNC), 0);
    EXPECT_TRUE(is_dir(sys("class/i2c-adapter/i2c-0/0-004d")));
    EXPECT_FALSE(is_dir(sys("class/i2c-adapter/i2c-0/0-004d/hwmon")));
    EXPECT_EQ(write_bytes(sys("class/i2c-adapter/i2c-0/new_device"), "adm1032 0x4d\n"), EBUSY);
    EXPECT_EQ(write_bytes(sys("class/i2c-adapter/i2c-0/new_device"), "adm1032"), EINVAL);
    EXPECT_EQ(write_bytes(sys("class/i2c-adapter/i2c-0/new_device"), "adm1032 0x4c junk"), EINVAL);
    EXPECT_EQ(write_bytes(sys("class/i2c-adapter/i2c-0/delete_device"), "0x4d\n"), 0);
    EXPECT_FALSE(is_dir(sys("class/i2c-adapter/i2c-0/0-004d")));
}

TEST_F(Sensor, BoundAtStartAtBothAddressesInOrder)
{
    vboard::BoardOptions options;
    options.sensors_bound = vboard::SENSOR_BOTH;
    options.temperature = 38000;
    board_.reset();
    mount(options);
    EXPECT_EQ(list(sys("class/i2c-adapter/i2c-0/0-004c/hwmon")), std::vector<std::string>{"hwmon1"});
    EXPECT_EQ(list(sys("class/i2c-adapter/i2c-0/0-004d/hwmon")), std::vector<std::string>{"hwmon2"});
    EXPECT_EQ(list(sys("class/hwmon")), (std::vector<std::string>{"hwmon1", "hwmon2"}));
    EXPECT_EQ(read_text(sys("class/hwmon/hwmon2/temp2_input")), "38000\n");
    board_->remove_sensor(vboard::sensor_address_4c);
    EXPECT_EQ(list(sys("class/hwmon")), std::vector<std::string>{"hwmon2"});
    board_->add_sensor(vboard::sensor_address_4c, true);
    EXPECT_EQ(list(sys("class/i2c-adapter/i2c-0/0-004c/hwmon")), std::vector<std::string>{"hwmon1"})
        << "the lowest free number is taken again";
}

}  // namespace
