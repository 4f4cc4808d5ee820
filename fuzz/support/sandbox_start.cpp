// libFuzzer's start hook of the targets that run the BMC's commands: each
// process works in a sandbox folder of its own (fuzz_sandbox.h).
#include "fuzz_sandbox.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    nk_fuzz::init_fuzz_sandbox();
    return 0;
}
