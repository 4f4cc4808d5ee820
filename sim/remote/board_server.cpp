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

// Carries out one call; its results go to out.
void serve(VirtualBoard& board, Op op, Reader& in, Writer& out)
{
    switch (op) {
    case Op::QUEUE_BMC_FRAME:
        board.queue_bmc_frame(in.bytes());
        break;
    case Op::PENDING_FRAMES:
        out.u64(board.pending_frames());
        break;
    case Op::RECEIVED_FRAMES:
        out.put(board.received_frames());
        break;
    case Op::WAIT_RECEIVED: {
        const uint64_t count = in.u64();
        out.u8(board.wait_received(count, in.duration()));
        break;
    }
    case Op::WAIT_DELIVERED:
        out.u8(board.wait_delivered(in.duration()));
        break;
    case Op::FAIL_NEXT_WRITES:
        board.fail_next_writes(in.u32());
        break;
    case Op::SET_STALL:
        board.set_stall(in.duration());
        break;
    case Op::SET_BMC_PRESENT:
        board.set_bmc_present(in.u8() != 0);
        break;
    case Op::SET_GPIO_CONTROLLER_PRESENT:
        board.set_gpio_controller_present(in.u8() != 0);
        break;
    case Op::SET_TEMPERATURE:
        board.set_temperature(static_cast<int>(in.i64()));
        break;
    case Op::ADD_SENSOR: {
        const uint8_t address = in.u8();
        board.add_sensor(address, in.u8() != 0);
        break;
    }
    case Op::REMOVE_SENSOR:
        board.remove_sensor(in.u8());
        break;
    case Op::SET_SERIAL:
        board.set_serial(in.text());
        break;
    case Op::SET_SERIAL_CODE:
        board.set_serial_code(in.u8());
        break;
    case Op::SET_EEPROM_BYTES: {
        const uint64_t offset = in.u64();
        board.set_eeprom_bytes(offset, in.bytes());
        break;
    }
    case Op::GPIO_WRITES:
        out.put(board.gpio_writes());
        break;
    case Op::TRANSACTIONS:
        out.put(board.transactions());
        break;
    case Op::ATTENTION_READS:
        out.u64(board.attention_reads());
        break;
    default:
        throw std::runtime_error("board protocol: unknown call " + std::to_string(static_cast<int>(op)));
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
                board = std::make_unique<VirtualBoard>(in.board_options());
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
