// The virtual board: the model and its two mounts; see virtual_board.h.
#include "virtual_board.h"

#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "board_fs.h"
#include "board_model.h"

namespace vboard {

class VirtualBoard::Impl {
public:
    explicit Impl(const BoardOptions& options)
        : prefix(absolute(options.prefix)), model(options), dev(prefix + "/dev", dev_operations(), &model),
          sys(prefix + "/sys", sys_operations(), &model)
    {}

    ~Impl()
    {
        // Files closed just before are released by the kernel a moment later;
        // serve those releases before the mounts go. Files still open then
        // fail from the unmount on.
        model.wait_all_released(release_wait);
    }

    static constexpr std::chrono::milliseconds release_wait{500};

    static std::string absolute(const std::string& path)
    {
        if (path.empty() || !make_folders(path)) {
            throw std::runtime_error("no usable board prefix: '" + path + "'");
        }
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) == nullptr) {
            throw std::runtime_error("cannot resolve " + path);
        }
        return resolved;
    }

    std::string prefix;
    BoardModel model;
    FuseMount dev;  // mounts after the model exists, unmounts before it goes
    FuseMount sys;
};

VirtualBoard::VirtualBoard(const BoardOptions& options) : impl_(std::make_unique<Impl>(options)) {}
VirtualBoard::~VirtualBoard() = default;

const std::string& VirtualBoard::prefix() const { return impl_->prefix; }

void VirtualBoard::queue_bmc_frame(const Bytes& frame) { impl_->model.queue_bmc_frame(frame); }
size_t VirtualBoard::pending_frames() const { return impl_->model.pending_frames(); }
bool VirtualBoard::attention_line_high() const { return impl_->model.pending_frames() == 0; }
std::vector<ReceivedFrame> VirtualBoard::received_frames() const { return impl_->model.received_frames(); }
bool VirtualBoard::wait_received(size_t count, std::chrono::milliseconds timeout) const
{
    return impl_->model.wait_received(count, timeout);
}
bool VirtualBoard::wait_delivered(std::chrono::milliseconds timeout) const
{
    return impl_->model.wait_delivered(timeout);
}

void VirtualBoard::fail_next_writes(unsigned count) { impl_->model.fail_next_writes(count); }
void VirtualBoard::set_stall(std::chrono::milliseconds delay) { impl_->model.set_stall(delay); }
void VirtualBoard::set_bmc_present(bool present) { impl_->model.set_bmc_present(present); }
void VirtualBoard::set_gpio_controller_present(bool present) { impl_->model.set_gpio_controller_present(present); }

void VirtualBoard::set_temperature(int millidegrees) { impl_->model.set_temperature(millidegrees); }
void VirtualBoard::add_sensor(uint8_t address, bool bound) { impl_->model.add_sensor(address, bound); }
void VirtualBoard::remove_sensor(uint8_t address) { impl_->model.remove_sensor(address); }

void VirtualBoard::set_serial(const std::string& text) { impl_->model.set_serial(text); }
void VirtualBoard::set_serial_code(uint8_t code) { impl_->model.set_eeprom_bytes(serial_record_offset, Bytes{code}); }
void VirtualBoard::set_eeprom_bytes(size_t offset, const Bytes& bytes) { impl_->model.set_eeprom_bytes(offset, bytes); }

std::vector<GpioWrite> VirtualBoard::gpio_writes() const { return impl_->model.gpio_writes(); }
std::vector<Transaction> VirtualBoard::transactions() const { return impl_->model.transactions(); }
uint64_t VirtualBoard::attention_reads() const { return impl_->model.attention_reads(); }

}  // namespace vboard
