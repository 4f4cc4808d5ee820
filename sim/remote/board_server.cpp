// vboard-server: the native end of a remote virtual board. Started by a board
// client (remote_board_client.cpp) with its end of a connected stream socket
// as descriptor 3; mounts the board the first request describes, carries out
// each control call on it, and unmounts and exits when the client closes the
// socket. Nothing on standard output.
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "remote_protocol.h"

namespace {

using namespace vboard;
using namespace vboard::remote;

constexpr int client_fd = 3;

BoardOptions read_options(Reader& in)
{
    BoardOptions o;
    o.prefix = in.text();
    o.sensors_present = static_cast<SensorSet>(in.u8());
    o.sensors_bound = static_cast<SensorSet>(in.u8());
    o.temperature = static_cast<int>(in.i64());
    o.serial = in.text();
    o.eeprom = in.u8() != 0;
    o.bmc_present = in.u8() != 0;
    for (uint32_t n = in.u32(); n > 0; --n) {
        o.exported_gpios.push_back(static_cast<int>(in.i64()));
    }
    return o;
}

// Carries out one call; its results go to out.
void serve(VirtualBoard& board, Op op, Reader& in, Writer& out)
{
    switch (op) {
    case Op::QUEUE_BMC_FRAME: board.queue_bmc_frame(in.bytes()); break;
    case Op::PENDING_FRAMES: out.u64(board.pending_frames()); break;
    case Op::RECEIVED_FRAMES: {
        const auto frames = board.received_frames();
        out.u32(static_cast<uint32_t>(frames.size()));
        for (const auto& f : frames) {
            out.bytes(f.raw);
            out.time(f.time);
        }
        break;
    }
    case Op::WAIT_RECEIVED: {
        const uint64_t count = in.u64();
        out.u8(board.wait_received(count, in.duration()));
        break;
    }
    case Op::WAIT_DELIVERED: out.u8(board.wait_delivered(in.duration())); break;
    case Op::FAIL_NEXT_WRITES: board.fail_next_writes(in.u32()); break;
    case Op::SET_STALL: board.set_stall(in.duration()); break;
    case Op::SET_BMC_PRESENT: board.set_bmc_present(in.u8() != 0); break;
    case Op::SET_TEMPERATURE: board.set_temperature(static_cast<int>(in.i64())); break;
    case Op::ADD_SENSOR: {
        const uint8_t address = in.u8();
        board.add_sensor(address, in.u8() != 0);
        break;
    }
    case Op::REMOVE_SENSOR: board.remove_sensor(in.u8()); break;
    case Op::SET_SERIAL: board.set_serial(in.text()); break;
    case Op::SET_SERIAL_CODE: board.set_serial_code(in.u8()); break;
    case Op::SET_EEPROM_BYTES: {
        const uint64_t offset = in.u64();
        board.set_eeprom_bytes(offset, in.bytes());
        break;
    }
    case Op::GPIO_WRITES: {
        const auto writes = board.gpio_writes();
        out.u32(static_cast<uint32_t>(writes.size()));
        for (const auto& w : writes) {
            out.text(w.path);
            out.text(w.bytes);
            out.i64(w.error);
        }
        break;
    }
    case Op::TRANSACTIONS: {
        const auto all = board.transactions();
        out.u32(static_cast<uint32_t>(all.size()));
        for (const auto& t : all) {
            out.u8(static_cast<uint8_t>(t.kind));
            out.u8(t.address);
            out.u64(t.length);
            out.i64(t.error);
            out.time(t.time);
        }
        break;
    }
    default: throw std::runtime_error("board protocol: unknown call " + std::to_string(static_cast<int>(op)));
    }
}

bool answer_failure(const std::string& what)
{
    Writer out;
    out.u8(1);
    out.text(what);
    return send_message(client_fd, out.data());
}

}  // namespace

int main()
{
    std::vector<uint8_t> request;
    std::unique_ptr<VirtualBoard> board;
    while (receive_message(client_fd, request)) {
        Writer results;
        results.u8(0);  // status: done; the call's results follow
        try {
            Reader in(std::move(request));
            const auto op = static_cast<Op>(in.u8());
            if (op == Op::OPEN && !board) {
                board = std::make_unique<VirtualBoard>(read_options(in));
                results.text(board->prefix());
            } else if (!board) {
                throw std::runtime_error("board protocol: no board opened");
            } else {
                serve(*board, op, in, results);
            }
        } catch (const std::exception& e) {
            if (!answer_failure(e.what()) || !board) {
                return 1;
            }
            continue;
        }
        if (!send_message(client_fd, results.data())) {
            break;
        }
    }
    return 0;  // the board unmounts as it goes
}
