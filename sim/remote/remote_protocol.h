// The wire form of the virtual board's control calls between a board client
// (a target binary of a cross build, run under emulation) and the native
// board server that owns the FUSE mounts (board_server.cpp).
//
// One connected stream socket per board; the client sends one request and
// waits for its answer, one call at a time. A message is a 4-byte length (host
// order: both ends run on the same machine) and that many bytes: an op code,
// then the call's arguments; an answer is a status byte (0 ok, 1 failed:
// followed by the error text) and the call's results. Integers travel in host
// order, texts and byte strings as a 4-byte length and their bytes, times as
// nanoseconds of the steady clock (CLOCK_MONOTONIC, shared by every process
// of the machine).
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "virtual_board.h"

namespace vboard::remote {

enum class Op : uint8_t {
    OPEN,  // BoardOptions -> prefix
    QUEUE_BMC_FRAME,
    PENDING_FRAMES,
    RECEIVED_FRAMES,
    WAIT_RECEIVED,
    WAIT_DELIVERED,
    FAIL_NEXT_WRITES,
    SET_STALL,
    SET_BMC_PRESENT,
    SET_TEMPERATURE,
    ADD_SENSOR,
    REMOVE_SENSOR,
    SET_SERIAL,
    SET_SERIAL_CODE,
    SET_EEPROM_BYTES,
    GPIO_WRITES,
    TRANSACTIONS,
    ATTENTION_READS,
    SET_GPIO_CONTROLLER_PRESENT,
};

constexpr uint32_t max_message_size = 64u << 20;

class Writer {
public:
    void u8(uint8_t v) { raw(&v, 1); }
    void u32(uint32_t v) { raw(&v, sizeof v); }
    void u64(uint64_t v) { raw(&v, sizeof v); }
    void i64(int64_t v) { raw(&v, sizeof v); }
    void text(const std::string& s)
    {
        u32(static_cast<uint32_t>(s.size()));
        raw(s.data(), s.size());
    }
    void bytes(const Bytes& b)
    {
        u32(static_cast<uint32_t>(b.size()));
        raw(b.data(), b.size());
    }
    void time(Clock::time_point t)
    {
        i64(std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
    }
    void duration(std::chrono::milliseconds d) { i64(d.count()); }

    // One argument of a call, by its type.
    void put(bool v) { u8(v); }
    void put(uint8_t v) { u8(v); }
    void put(uint32_t v) { u32(v); }
    void put(uint64_t v) { u64(v); }
    void put(int64_t v) { i64(v); }
    void put(const std::string& s) { text(s); }
    void put(const Bytes& b) { bytes(b); }
    void put(std::chrono::milliseconds d) { duration(d); }

    // The board's options and records, and lists of records (a count, then
    // each record); Reader reads them back with board_options(),
    // received_frames(), gpio_writes() and transactions().
    void put(const BoardOptions& o)
    {
        text(o.prefix);
        u8(o.sensors_present);
        u8(o.sensors_bound);
        i64(o.temperature);
        text(o.serial);
        u8(o.eeprom);
        u8(o.bmc_present);
        u32(static_cast<uint32_t>(o.exported_gpios.size()));
        for (const int line : o.exported_gpios) {
            i64(line);
        }
        u8(o.attention_interrupt);
    }
    void put(const ReceivedFrame& f)
    {
        bytes(f.raw);
        time(f.time);
    }
    void put(const GpioWrite& g)
    {
        text(g.path);
        text(g.bytes);
        i64(g.error);
    }
    void put(const Transaction& t)
    {
        u8(static_cast<uint8_t>(t.kind));
        u8(t.address);
        u64(t.length);
        i64(t.error);
        time(t.time);
    }
    template <typename Record>
    void put(const std::vector<Record>& records)
    {
        u32(static_cast<uint32_t>(records.size()));
        for (const Record& r : records) {
            put(r);
        }
    }

    const std::vector<uint8_t>& data() const { return data_; }

private:
    void raw(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        data_.insert(data_.end(), b, b + n);
    }
    std::vector<uint8_t> data_;
};

// Reads what a Writer wrote (a message it holds); throws std::runtime_error
// past the end.
class Reader {
public:
    explicit Reader(std::vector<uint8_t> data) : data_(std::move(data)) {}
    uint8_t u8() { return get<uint8_t>(); }
    uint32_t u32() { return get<uint32_t>(); }
    uint64_t u64() { return get<uint64_t>(); }
    int64_t i64() { return get<int64_t>(); }
    std::string text()
    {
        const uint32_t n = u32();
        need(n);
        std::string s(reinterpret_cast<const char*>(data_.data() + at_), n);
        at_ += n;
        return s;
    }
    Bytes bytes()
    {
        const uint32_t n = u32();
        need(n);
        Bytes b(data_.begin() + static_cast<long>(at_), data_.begin() + static_cast<long>(at_ + n));
        at_ += n;
        return b;
    }
    Clock::time_point time() { return Clock::time_point(std::chrono::nanoseconds(i64())); }
    std::chrono::milliseconds duration() { return std::chrono::milliseconds(i64()); }

    BoardOptions board_options()
    {
        BoardOptions o;
        o.prefix = text();
        o.sensors_present = static_cast<SensorSet>(u8());
        o.sensors_bound = static_cast<SensorSet>(u8());
        o.temperature = static_cast<int>(i64());
        o.serial = text();
        o.eeprom = u8() != 0;
        o.bmc_present = u8() != 0;
        for (uint32_t n = u32(); n > 0; --n) {
            o.exported_gpios.push_back(static_cast<int>(i64()));
        }
        o.attention_interrupt = u8() != 0;
        return o;
    }
    std::vector<ReceivedFrame> received_frames()
    {
        std::vector<ReceivedFrame> frames(u32());
        for (auto& f : frames) {
            f.raw = bytes();
            f.decoded = decode_frame(f.raw);
            f.time = time();
        }
        return frames;
    }
    std::vector<GpioWrite> gpio_writes()
    {
        std::vector<GpioWrite> writes(u32());
        for (auto& g : writes) {
            g.path = text();
            g.bytes = text();
            g.error = static_cast<int>(i64());
        }
        return writes;
    }
    std::vector<Transaction> transactions()
    {
        std::vector<Transaction> all(u32());
        for (auto& t : all) {
            t.kind = static_cast<TransactionKind>(u8());
            t.address = u8();
            t.length = u64();
            t.error = static_cast<int>(i64());
            t.time = time();
        }
        return all;
    }

private:
    template <typename T>
    T get()
    {
        need(sizeof(T));
        T v;
        std::memcpy(&v, data_.data() + at_, sizeof v);
        at_ += sizeof v;
        return v;
    }
    void need(size_t n) const
    {
        if (data_.size() - at_ < n) {
            throw std::runtime_error("board protocol: message too short");
        }
    }
    std::vector<uint8_t> data_;
    size_t at_ = 0;
};

// One whole message over a stream socket. send_message: false when the peer
// is gone. receive_message: false at the end of the stream or on an error.
bool send_message(int fd, const std::vector<uint8_t>& payload);
bool receive_message(int fd, std::vector<uint8_t>& payload);

}  // namespace vboard::remote
