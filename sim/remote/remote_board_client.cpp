// The virtual board's control API for binaries that cannot serve FUSE
// themselves (the target binaries of a cross build, run under user-mode
// emulation): each call goes over a stream socket to a native vboard-server
// process that owns the mounts (board_server.cpp). The code under test sees
// the board only through the filesystem, as on the node.
//
// The constructor starts the server (path NODEKEEPER_BOARD_SERVER) with its
// end of a socket pair as descriptor 3 and waits until the board is mounted;
// the destructor closes the socket and waits for the server, which unmounts
// before it exits. Calls are serialised: one at a time per board.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>
#include <stdexcept>

#include "remote_protocol.h"
#include "virtual_board.h"

extern char** environ;

namespace vboard {

using remote::Op;
using remote::Reader;
using remote::Writer;

class VirtualBoard::Impl {
public:
    explicit Impl(const BoardOptions& options)
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
            throw std::runtime_error("board client: socketpair failed");
        }
        fd_ = fds[0];
        if (fds[1] == 3) {
            // dup2 onto itself would keep close-on-exec: move it away first.
            const int moved = fcntl(fds[1], F_DUPFD_CLOEXEC, 4);
            close(fds[1]);
            fds[1] = moved;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 3);  // dup2 clears close-on-exec
        char* const argv[] = {const_cast<char*>(NODEKEEPER_BOARD_SERVER), nullptr};
        const int rc = posix_spawn(&pid_, NODEKEEPER_BOARD_SERVER, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            close(fd_);
            throw std::runtime_error(std::string("board client: cannot start ") + NODEKEEPER_BOARD_SERVER);
        }
        try {
            prefix = call(Op::OPEN, options).text();
        } catch (...) {
            stop();
            throw;
        }
    }

    ~Impl() { stop(); }

    // Sends the request and returns a reader over the results of the answer.
    // Throws std::runtime_error when the server failed the call or is gone.
    Reader call(const Writer& request)
    {
        std::vector<uint8_t> answer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!remote::send_message(fd_, request.data()) || !remote::receive_message(fd_, answer)) {
                throw std::runtime_error("board client: the board server is gone");
            }
        }
        Reader in(std::move(answer));
        if (in.u8() != 0) {
            throw std::runtime_error("board server: " + in.text());
        }
        return in;
    }

    // A call by op code and arguments; its results are read from the
    // returned reader (calls without results ignore it).
    template <typename... Args>
    Reader call(Op op, const Args&... args)
    {
        Writer w;
        w.u8(static_cast<uint8_t>(op));
        (w.put(args), ...);
        return call(w);
    }

    std::string prefix;

private:
    void stop()
    {
        close(fd_);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }

    int fd_ = -1;
    pid_t pid_ = -1;
    std::mutex mutex_;
};

VirtualBoard::VirtualBoard(const BoardOptions& options) : impl_(std::make_unique<Impl>(options)) {}
VirtualBoard::~VirtualBoard() = default;

const std::string& VirtualBoard::prefix() const { return impl_->prefix; }

void VirtualBoard::queue_bmc_frame(const Bytes& frame) { impl_->call(Op::QUEUE_BMC_FRAME, frame); }

size_t VirtualBoard::pending_frames() const { return impl_->call(Op::PENDING_FRAMES).u64(); }

bool VirtualBoard::attention_line_high() const { return pending_frames() == 0; }

std::vector<ReceivedFrame> VirtualBoard::received_frames() const
{
    return impl_->call(Op::RECEIVED_FRAMES).received_frames();
}

bool VirtualBoard::wait_received(size_t count, std::chrono::milliseconds timeout) const
{
    return impl_->call(Op::WAIT_RECEIVED, static_cast<uint64_t>(count), timeout).u8() != 0;
}

bool VirtualBoard::wait_delivered(std::chrono::milliseconds timeout) const
{
    return impl_->call(Op::WAIT_DELIVERED, timeout).u8() != 0;
}

void VirtualBoard::fail_next_writes(unsigned count) { impl_->call(Op::FAIL_NEXT_WRITES, static_cast<uint32_t>(count)); }
void VirtualBoard::set_stall(std::chrono::milliseconds delay) { impl_->call(Op::SET_STALL, delay); }
void VirtualBoard::set_bmc_present(bool present) { impl_->call(Op::SET_BMC_PRESENT, present); }
void VirtualBoard::set_gpio_controller_present(bool present) { impl_->call(Op::SET_GPIO_CONTROLLER_PRESENT, present); }

void VirtualBoard::set_temperature(int millidegrees)
{
    impl_->call(Op::SET_TEMPERATURE, static_cast<int64_t>(millidegrees));
}
void VirtualBoard::add_sensor(uint8_t address, bool bound) { impl_->call(Op::ADD_SENSOR, address, bound); }
void VirtualBoard::remove_sensor(uint8_t address) { impl_->call(Op::REMOVE_SENSOR, address); }

void VirtualBoard::set_serial(const std::string& text) { impl_->call(Op::SET_SERIAL, text); }
void VirtualBoard::set_serial_code(uint8_t code) { impl_->call(Op::SET_SERIAL_CODE, code); }
void VirtualBoard::set_eeprom_bytes(size_t offset, const Bytes& bytes)
{
    impl_->call(Op::SET_EEPROM_BYTES, static_cast<uint64_t>(offset), bytes);
}

std::vector<GpioWrite> VirtualBoard::gpio_writes() const { return impl_->call(Op::GPIO_WRITES).gpio_writes(); }

std::vector<Transaction> VirtualBoard::transactions() const { return impl_->call(Op::TRANSACTIONS).transactions(); }

uint64_t VirtualBoard::attention_reads() const { return impl_->call(Op::ATTENTION_READS).u64(); }

}  // namespace vboard
