// Recording stand-ins for popen/pclose (linked through --wrap) and the
// sandbox folder of the fuzz targets (see fuzz_sandbox.h).
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "config.h"
#include "fuzz_sandbox.h"

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

FILE* __wrap_popen(const char* cmd, const char* /*mode*/)
{
    nk_fuzz::commands.emplace_back(cmd);
    if (nk_fuzz::commands.back() == std::string("rm ") + netplan_config_path) {
        unlink(netplan_config_path);
    }
    return fopen("/dev/null", "re");  // the command printed nothing
}

int __wrap_pclose(FILE* stream) { return fclose(stream) == 0 ? 0 : -1; }

}  // extern "C"
