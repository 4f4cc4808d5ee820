// The board's BMC, I2C bus, EEPROM window and control side; the sys tree is
// in board_sysfs.cpp.
#include "board_model.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace vboard {

BoardModel::BoardModel(const BoardOptions& options)
    : bmc_present_(options.bmc_present), attention_interrupt_(options.attention_interrupt),
      temperature_(options.temperature), eeprom_enabled_(options.eeprom)
{
    const SensorSet present = static_cast<SensorSet>(options.sensors_present | options.sensors_bound);
    for (const auto& [bit, address] :
         {std::pair{SENSOR_4C, sensor_address_4c}, std::pair{SENSOR_4D, sensor_address_4d}}) {
        if (present & bit) {
            sensors_present_.insert(address);
        }
        if (options.sensors_bound & bit) {
            bind_client(address, "adm1032");
        }
    }
    for (int gpio : options.exported_gpios) {
        export_line(gpio);
    }
    set_serial(options.serial);
}

// --- I2C ---

uint64_t BoardModel::i2c_open()
{
    std::lock_guard<std::mutex> lock(mutex_);
    slaves_[next_handle_] = 0;
    return next_handle_++;
}

void BoardModel::i2c_close(uint64_t handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    slaves_.erase(handle);
}

int BoardModel::i2c_select(uint64_t handle, unsigned long address)
{
    constexpr unsigned long max_7bit_address = 0x7f;
    if (address > max_7bit_address) {
        return -EINVAL;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    slaves_[handle] = static_cast<uint8_t>(address);
    return 0;
}

uint8_t BoardModel::slave_of(uint64_t handle) const
{
    const auto it = slaves_.find(handle);
    return it == slaves_.end() ? 0 : it->second;
}

void BoardModel::log_transaction(TransactionKind kind, uint8_t address, size_t length, int error)
{
    transactions_.push_back(Transaction{kind, address, length, error, Clock::now()});
}

uint8_t BoardModel::begin_transfer(uint64_t handle, std::unique_lock<std::mutex>& lock)
{
    lock.lock();
    const uint8_t address = slave_of(handle);
    if (address != bmc_address) {
        return address;
    }
    // A stalled BMC holds up this transfer only, not the other files of the
    // board (the wait releases the lock). The stall in force counts, so a
    // stall lifted or shortened meanwhile ends the waits it no longer covers:
    // a FUSE request that has reached the board cannot be abandoned by its
    // caller, not even when the caller is killed.
    const Clock::time_point start = Clock::now();
    while (Clock::now() < start + stall_) {
        changed_.wait_until(lock, start + stall_);
    }
    return address;
}

bool BoardModel::device_present(uint8_t address) const
{
    return address == bmc_address ? bmc_present_ : sensors_present_.count(address) != 0;
}

int BoardModel::i2c_read(uint64_t handle, uint8_t* buffer, size_t length)
{
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    const uint8_t address = begin_transfer(handle, lock);
    if (!device_present(address)) {
        log_transaction(TransactionKind::READ, address, length, ENXIO);
        return -ENXIO;
    }
    std::memset(buffer, 0, length);
    if (address == bmc_address && !pending_.empty()) {
        const bool level_before = gpio_level(attention_gpio);
        const Bytes& frame = pending_.front();
        std::memcpy(buffer, frame.data(), std::min(length, frame.size()));
        pending_.pop_front();
        note_level_change(attention_gpio, level_before);
        changed_.notify_all();
    }
    log_transaction(TransactionKind::READ, address, length, 0);
    return static_cast<int>(length);
}

int BoardModel::i2c_write(uint64_t handle, const uint8_t* bytes, size_t length)
{
    std::unique_lock<std::mutex> lock(mutex_, std::defer_lock);
    const uint8_t address = begin_transfer(handle, lock);
    int error = 0;
    if (!device_present(address)) {
        error = ENXIO;
    } else if (address == bmc_address && fail_writes_ > 0) {
        --fail_writes_;
        error = EREMOTEIO;
    }
    log_transaction(TransactionKind::WRITE, address, length, error);
    if (error != 0) {
        return -error;
    }
    if (address == bmc_address) {
        Bytes raw(bytes, bytes + length);
        DecodedFrame decoded = decode_frame(raw);
        received_.push_back(ReceivedFrame{std::move(raw), std::move(decoded), Clock::now()});
        changed_.notify_all();
    }
    return static_cast<int>(length);
}

int BoardModel::i2c_probe(uint64_t handle)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const uint8_t address = slave_of(handle);
    const int error = device_present(address) ? 0 : ENXIO;
    log_transaction(TransactionKind::PROBE, address, 0, error);
    return -error;
}

// --- dev/mem ---

size_t BoardModel::mem_read(uint64_t offset, uint8_t* buffer, size_t length)
{
    const uint64_t size = eeprom_window_offset + eeprom_window_size;
    if (offset >= size) {
        return 0;
    }
    length = static_cast<size_t>(std::min<uint64_t>(length, size - offset));
    std::memset(buffer, 0, length);
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < length; ++i) {
        const uint64_t at = offset + i;
        if (at >= eeprom_window_offset) {
            buffer[i] = eeprom_[at - eeprom_window_offset];
        }
    }
    return length;
}

void BoardModel::set_eeprom_bytes(size_t offset, const Bytes& bytes)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t i = 0; i < bytes.size() && offset + i < eeprom_.size(); ++i) {
        eeprom_[offset + i] = bytes[i];
    }
}

void BoardModel::set_serial(const std::string& text)
{
    // Code byte, text, NUL; the rest of the window behind the record is cleared.
    constexpr size_t room = eeprom_window_size - serial_record_offset - 2;
    Bytes record(eeprom_window_size - serial_record_offset, 0);
    record[0] = serial_record_code;
    std::memcpy(record.data() + 1, text.data(), std::min(text.size(), room));
    set_eeprom_bytes(serial_record_offset, record);
}

// --- open handles ---

void BoardModel::handle_opened()
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_handles_;
}

void BoardModel::handle_released()
{
    std::lock_guard<std::mutex> lock(mutex_);
    --open_handles_;
    changed_.notify_all();
}

bool BoardModel::wait_all_released(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return open_handles_ == 0; });
}

// --- control ---

void BoardModel::queue_bmc_frame(const Bytes& frame)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const bool level_before = gpio_level(attention_gpio);
    pending_.push_back(frame);
    note_level_change(attention_gpio, level_before);
    changed_.notify_all();
}

size_t BoardModel::pending_frames()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

std::vector<ReceivedFrame> BoardModel::received_frames()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool BoardModel::wait_received(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

bool BoardModel::wait_delivered(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return pending_.empty(); });
}

void BoardModel::fail_next_writes(unsigned count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fail_writes_ = count;
}

void BoardModel::set_stall(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(mutex_);
    stall_ = delay;
    changed_.notify_all();
}

void BoardModel::set_bmc_present(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bmc_present_ = present;
}

void BoardModel::set_gpio_controller_present(bool present)
{
    std::lock_guard<std::mutex> lock(mutex_);
    gpio_controller_present_ = present;
    if (!present) {
        gpio_.clear();  // its lines go as by unexport
    }
}

void BoardModel::set_temperature(int millidegrees)
{
    std::lock_guard<std::mutex> lock(mutex_);
    temperature_ = millidegrees;
}

void BoardModel::add_sensor(uint8_t address, bool bound)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sensors_present_.insert(address);
    if (bound && clients_.count(address) == 0) {
        bind_client(address, "adm1032");
    }
}

void BoardModel::remove_sensor(uint8_t address)
{
    std::lock_guard<std::mutex> lock(mutex_);
    sensors_present_.erase(address);
    clients_.erase(address);
}

std::vector<GpioWrite> BoardModel::gpio_writes()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return gpio_writes_;
}

std::vector<Transaction> BoardModel::transactions()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return transactions_;
}

uint64_t BoardModel::attention_reads()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return attention_reads_;
}

}  // namespace vboard
