// The BMC's network commands called directly with arbitrary texts, in
// arbitrary order, from either addressing mode. After every command the
// netplan file must keep its shape and every command line must be one the
// daemon may run (support/netplan_shape.h). Runs in a sandbox folder with
// recording fakes of the commands (support/fuzz_sandbox.h).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "config.h"
#include "support/fuzz_sandbox.h"
#include "support/netplan_shape.h"

namespace {

constexpr int max_commands_per_input = 12;

bool (*const text_setters[])(char*) = {set_Config_IP_Address, set_Config_Gateway, set_Config_Subnetmask,
                                       set_Config_Dns1,       set_Config_Dns2,    set_Config_Hostname};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    nk_fuzz::reset_network(in.ConsumeBool());
    for (int i = 0; i < max_commands_per_input && in.remaining_bytes() > 0; ++i) {
        const unsigned which = in.ConsumeIntegralInRange<unsigned>(0, 7);
        if (which == 6) {
            set_Network_Mode(in.ConsumeIntegral<uint8_t>());
        } else if (which == 7) {
            run_Apply();
        } else {
            // A heap copy of exactly the text and its NUL, so that a read
            // past the end is caught.
            const std::string text = in.ConsumeRandomLengthString(300);
            std::unique_ptr<char[]> buffer(new char[text.size() + 1]);
            std::memcpy(buffer.get(), text.c_str(), text.size() + 1);
            text_setters[which](buffer.get());
        }
        nk_fuzz::check_network_effects();
    }
    return 0;
}
