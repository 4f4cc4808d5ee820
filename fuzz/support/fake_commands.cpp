// Recording stand-in for the program runner (linked through --wrap), guards
// that end the run should anything start a program around it, and the
// sandbox folder of the fuzz targets (see fuzz_sandbox.h).
#include <ftw.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "fuzz_sandbox.h"
#include "program_runner.h"

namespace nk_fuzz {
namespace {

std::vector<std::string> commands;
std::string sandbox;

void remove_sandbox()
{
    if (sandbox.empty()) {
        return;
    }
    (void)!chdir("/");
    nftw(
        sandbox.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

void make_dir(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) != 0) {
        fail("cannot create " + path);
    }
}

}  // namespace

void init_fuzz_sandbox()
{
    std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/nk-fuzz-XXXXXX" : "/tmp/nk-fuzz-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr || chdir(tmpl.c_str()) != 0) {
        fail("cannot create the sandbox folder " + tmpl);
    }
    sandbox = tmpl;
    atexit(remove_sandbox);
    static_assert(sizeof(NODEKEEPER_SYSROOT) > 1 && NODEKEEPER_SYSROOT[0] != '/',
                  "the fuzz targets need a relative platform prefix");
    const std::string root = NODEKEEPER_SYSROOT;
    make_dir(root);
    make_dir(root + "/etc");
    make_dir(root + "/etc/netplan");
}

std::vector<std::string> take_commands()
{
    std::vector<std::string> taken;
    taken.swap(commands);
    return taken;
}

}  // namespace nk_fuzz

extern "C" {

// The runner proper: defined only when the link replaces the runner
// (--wrap=run_program_call). The reference makes a link without the
// replacement fail, so that no fuzz target can start a real program.
void __real_run_program_call(const Program_Call* call, Program_Result* result);
__attribute__((used)) void (*const unwrapped_runner)(const Program_Call*, Program_Result*) = __real_run_program_call;

// Records the program's command line; it "exits" with status 0 and prints
// nothing.
void __wrap_run_program_call(const Program_Call* call, Program_Result* result)
{
    std::string line;
    for (const char* const* arg = call->argv; *arg != nullptr; ++arg) {
        line += (line.empty() ? "" : " ") + std::string(*arg);
    }
    nk_fuzz::commands.push_back(line);
    *result = Program_Result();
    result->outcome = Program_Outcome::EXITED;
}

// No program may start for real in a fuzz run: any start that did not go
// through the replaced runner ends the run.
int __wrap_posix_spawnp(pid_t*, const char* file, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                        char* const[], char* const[])
{
    nk_fuzz::fail(std::string("a real program was about to start: ") + file);
}

int __wrap_posix_spawn(pid_t*, const char* path, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                       char* const[], char* const[])
{
    nk_fuzz::fail(std::string("a real program was about to start: ") + path);
}

}  // extern "C"
