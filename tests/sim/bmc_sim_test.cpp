// bmc-sim as a subprocess: ready line, commands, frames of the node, exit.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <string>
#include <thread>

#include "board_fixture.h"
#include "test_env.h"

namespace {

using namespace std::chrono_literals;
using sim_test::I2cFile;
using sim_test::read_text;
using sim_test::sysroot;

// bmc-sim with its standard input and output on pipes.
class BmcSim {
public:
    explicit BmcSim(std::vector<std::string> args)
    {
        int in[2];
        int out[2];
        if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        args.insert(args.begin(), {BMC_SIM_PATH, sysroot()});
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv;
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = in[1];
        from_ = out[0];
    }
    ~BmcSim()
    {
        close_input();
        if (from_ >= 0) {
            close(from_);
        }
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    void send(const std::string& line) { (void)!write(to_, (line + "\n").data(), line.size() + 1); }
    void close_input()
    {
        if (to_ >= 0) {
            close(to_);
            to_ = -1;
        }
    }
    // The next output line that starts with `start`, skipping others; "" after the time-out.
    std::string expect(const std::string& start, std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (true) {
            for (size_t end; (end = buffer_.find('\n')) != std::string::npos;) {
                const std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (line.compare(0, start.size(), start) == 0) {
                    return line;
                }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            struct pollfd fd = {from_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                return "";
            }
            char chunk[1024];
            const ssize_t n = read(from_, chunk, sizeof chunk);
            if (n <= 0) {
                return "";
            }
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }
    // Exit status after waiting up to `timeout`; -1 when it is still running.
    int wait_exit(std::chrono::milliseconds timeout = 5s)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            std::this_thread::sleep_for(10ms);
        }
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    bool exited_ = false;
    std::string buffer_;
};

bool board_mounted()
{
    struct stat st;
    return stat((sysroot() + "/dev/i2c-0").c_str(), &st) == 0;
}

TEST(BmcSim, CommandsQueueFramesAndNodeFramesArePrinted)
{
    BmcSim sim({"--bound", "4c", "--temp", "41000"});
    ASSERT_EQ(sim.expect("ready"), "ready");
    EXPECT_EQ(read_text(sysroot() + "/sys/class/hwmon/hwmon1/temp2_input"), "41000\n");

    sim.send("hostname node-7");
    EXPECT_NE(sim.expect("ok queued").find("sub=SUBADDRESS_NETWORK_CONFIG_HOSTNAME data=\"node-7\""),
              std::string::npos);
    {
        I2cFile bus(vboard::bmc_address);
        vboard::Bytes expected = vboard::network_hostname_frame("node-7");
        expected.resize(256, 0);
        EXPECT_EQ(bus.read_frame(256), expected);

        sim.send("wait delivered 1000");
        EXPECT_EQ(sim.expect("ok"), "ok wait delivered 1000");
        sim.send("apply");
        sim.send("wait delivered 50");
        EXPECT_EQ(sim.expect("error"), "error timed out: wait delivered 50");
        ASSERT_EQ(bus.write_frame({3, 0x01, 0x01}), 0);
        sim.send("wait frames 1");
        EXPECT_EQ(sim.expect("frame"), "frame len=3 node=1 bcast=0 type=PING resp=0 dtype=UINT8 raw=030101");
        EXPECT_EQ(sim.expect("ok"), "ok wait frames 1");

        sim.send("temp 50");
        EXPECT_EQ(sim.expect("ok"), "ok temp 50000");
        EXPECT_EQ(read_text(sysroot() + "/sys/class/hwmon/hwmon1/temp2_input"), "50000\n");
        sim.send("fail 1");
        EXPECT_EQ(sim.expect("ok"), "ok fail 1");
        EXPECT_EQ(bus.write_frame({3, 0x01, 0x01}), EREMOTEIO);
    }  // closed before the board goes
    sim.send("nonsense");
    EXPECT_EQ(sim.expect("error").substr(0, 23), "error unknown command '");

    sim.send("quit");
    EXPECT_EQ(sim.expect("ok"), "ok quit");
    EXPECT_EQ(sim.wait_exit(), 0);
    EXPECT_FALSE(board_mounted());
}

TEST(BmcSim, NetplanPrintsTheNetworkFile)
{
    const std::string dir = sysroot() + "/etc/netplan";
    ASSERT_EQ(system(("mkdir -p " + dir).c_str()), 0);
    const std::string file = dir + "/99-netcfg.yaml";
    const std::string saved = read_text(file);
    const bool existed = saved.rfind("<errno", 0) != 0;
    nk_test::write_file(file, "network:\n  version: 2\n");
    BmcSim sim({});
    ASSERT_EQ(sim.expect("ready"), "ready");
    sim.send("netplan");
    EXPECT_EQ(sim.expect("netplan"), "netplan network:");
    EXPECT_EQ(sim.expect("netplan"), "netplan   version: 2");
    EXPECT_EQ(sim.expect("ok"), "ok netplan");
    sim.close_input();
    EXPECT_EQ(sim.wait_exit(), 0) << "end of input ends the program";
    EXPECT_FALSE(board_mounted());
    if (existed) {
        nk_test::write_file(file, saved);
    } else {
        unlink(file.c_str());
    }
}

TEST(BmcSim, StopSignalUnmounts)
{
    for (int signal_number : {SIGTERM, SIGINT}) {
        BmcSim sim({"--sensor", "none", "--no-eeprom"});
        ASSERT_EQ(sim.expect("ready"), "ready");
        EXPECT_TRUE(board_mounted());
        EXPECT_NE(access((sysroot() + "/dev/mem").c_str(), F_OK), 0);
        kill(sim.pid(), signal_number);
        EXPECT_EQ(sim.wait_exit(), 0);
        EXPECT_FALSE(board_mounted());
    }
}

TEST(BmcSim, BoardOfAHangingOrCrashedRunIsReplaced)
{
    vboard::BoardOptions options;
    options.prefix = sysroot();
    BmcSim hanging({});
    ASSERT_EQ(hanging.expect("ready"), "ready");
    kill(hanging.pid(), SIGSTOP);  // mounted, but nobody serves it any more
    {
        vboard::VirtualBoard board(options);
        EXPECT_EQ(I2cFile(vboard::bmc_address).write_frame({3, 0, 1}), 0);
        EXPECT_EQ(board.received_frames().size(), 1u);
    }
    kill(hanging.pid(), SIGCONT);
    kill(hanging.pid(), SIGTERM);
    EXPECT_EQ(hanging.wait_exit(), 0);

    BmcSim crashed({});
    ASSERT_EQ(crashed.expect("ready"), "ready");
    kill(crashed.pid(), SIGKILL);
    EXPECT_EQ(crashed.wait_exit(), 128 + SIGKILL);
    vboard::VirtualBoard board(options);
    EXPECT_EQ(I2cFile(vboard::bmc_address).probe(), 0);
}

TEST(BmcSim, RefusesBadOptions)
{
    BmcSim sim({"--sensor", "4e"});
    EXPECT_EQ(sim.wait_exit(), 2);
}

}  // namespace
