// What the configuration store refuses to read or replace (anything but a
// regular file within the cap), the mode of a netplan file it creates, and
// the evidence that each network command reads its file once and replaces
// it at most once. Cases that would hang or eat memory on a faulty build
// run in a bounded child process.
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "bounded_child.h"
#include "netplan_fixture.h"

namespace {

// Makes a file of the named kind at `path`; false with errno when it cannot.
bool make_special(const std::string& kind, const std::string& path)
{
    if (kind == "character device") {
        return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;  // what /dev/null is
    }
    if (kind == "FIFO") {
        return mkfifo(path.c_str(), 0666) == 0;
    }
    if (kind == "folder") {
        return mkdir(path.c_str(), 0755) == 0;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);  // the socket file stays
    return bound;
}

mode_t kind_of(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

std::size_t count_lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

}  // namespace

TEST_F(NetplanTest, OnlyARegularFileIsReadOrReplacedAlsoBehindALink)
{
    std::vector<std::string> kinds = {"FIFO", "socket", "folder", "character device"};
    for (const std::string& kind : kinds) {
        SCOPED_TRACE(kind);
        const std::string thing = dir.file("thing");
        if (!make_special(kind, thing)) {
            ASSERT_EQ(kind, "character device") << std::strerror(errno);
            GTEST_SKIP() << "mknod of a character device needs root (CAP_MKNOD): " << std::strerror(errno);
        }
        const mode_t before = kind_of(thing);
        // Behind a link (as an administrator switches a file off), and the
        // FIFO also in place of the file.
        for (const bool direct : {false, true}) {
            if (direct && kind != "FIFO") {
                continue;
            }
            std::remove(path());
            ASSERT_EQ(direct ? rename(thing.c_str(), path()) : symlink(thing.c_str(), path()), 0);
            const nk_test::ChildResult r =
                nk_test::run_bounded([this] { return value(NETWORK_CONFIG_TYPE::DNS1, "9.9.9.9") ? 0 : 1; });
            ASSERT_TRUE(r.finished) << "the command did not return";
            EXPECT_EQ(r.output.rfind(std::string("[ERROR] set_Network_Config_Data: ") + path(), 0), 0u) << r.output;
            EXPECT_NE(r.output.find("not a regular file"), std::string::npos) << r.output;
            EXPECT_EQ(count_lines(r.output), 1u) << r.output;
            EXPECT_EQ(kind_of(direct ? path() : thing), before);
            if (direct) {
                ASSERT_EQ(rename(path(), thing.c_str()), 0);
            }
        }
        std::remove(path());
        std::filesystem::remove(thing);
    }
}

TEST_F(NetplanTest, TheModeCommandRemovesOnlyAFileOrALinkToOne)
{
    struct Case {
        const char* what;     // at the netplan file's path
        const char* target;   // what a link there names ("" for no link)
        const char* refusal;  // the error line's reason, "" when removed
    };
    const Case cases[] = {
        {"regular file", "", ""},
        {"regular file", "link", ""},
        {"missing", "", ""},
        {"FIFO", "", "is a FIFO, not a regular file"},
        {"socket", "", "is a socket, not a regular file"},
        {"folder", "", "is a folder, not a regular file"},
        {"character device", "link", "is a symbolic link to something that is a character device, not a regular file"},
        {"FIFO", "link", "is a symbolic link to something that is a FIFO, not a regular file"},
        {"missing", "link", "is a symbolic link that cannot be followed: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + (*c.target != '\0' ? " behind a link" : ""));
        const bool link = *c.target != '\0';
        const std::string thing = link ? dir.file("thing") : path();
        if (std::string(c.what) == "regular file") {
            nk_test::write_file(thing, "kept?\n");
        } else if (std::string(c.what) != "missing" && !make_special(c.what, thing)) {
            ASSERT_EQ(std::string(c.what), "character device") << std::strerror(errno);
            continue;  // mknod needs root (CAP_MKNOD)
        }
        if (link) {
            ASSERT_EQ(symlink(thing.c_str(), path()), 0);
        }
        network_mode = NETWORK_MODE::DHCP;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(set_network_mode(path(), 0));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(network_mode, NETWORK_MODE::STATIC);  // stored all the same
        if (*c.refusal == '\0') {
            EXPECT_EQ(out, "");
            EXPECT_EQ(kind_of(path()), 0u);
        } else {
            EXPECT_EQ(out, "[ERROR] set_Network_Mode: " + std::string(path()) + " " + c.refusal + "; left in place\n");
            EXPECT_NE(kind_of(path()), 0u);
        }
        // A link goes; what it names stays.
        if (link) {
            EXPECT_EQ(kind_of(thing) != 0, std::string(c.what) != "missing");
        }
        std::filesystem::remove(path());
        std::filesystem::remove(thing);
    }
    EXPECT_TRUE(fakes.calls().empty());
}

TEST_F(NetplanTest, ApplyRunsNothingWhenItsFileIsNotARegularFile)
{
    ASSERT_EQ(mkfifo(path(), 0600), 0);
    const nk_test::ChildResult r = nk_test::run_bounded([this] { return apply_netplan(path(), "run_Apply") ? 0 : 1; });
    ASSERT_TRUE(r.finished) << "apply did not return";
    EXPECT_EQ(r.output.rfind("[ERROR] run_Apply: ", 0), 0u) << r.output;
    EXPECT_NE(r.output.find("netplan apply not run"), std::string::npos) << r.output;
    EXPECT_EQ(count_lines(r.output), 1u) << r.output;
    EXPECT_TRUE(fakes.calls().empty());
}

TEST_F(NetplanTest, FilesAndEditsPastTheCapAreRefused)
{
    // A sparse file one byte over the cap: unusable, left as it is.
    write_netplan(netplan_dhcp_default_config);
    ASSERT_EQ(truncate(path(), config_file_cap + 1), 0);
    nk_test::ChildResult r =
        nk_test::run_bounded([this] { return value(NETWORK_CONFIG_TYPE::DNS1, "9.9.9.9") ? 0 : 1; });
    ASSERT_TRUE(r.finished);
    EXPECT_NE(r.output.find("is larger than 65536 bytes"), std::string::npos) << r.output;
    EXPECT_EQ(count_lines(r.output), 1u) << r.output;
    EXPECT_EQ(std::filesystem::file_size(path()), config_file_cap + 1);

    // A file at the cap whose edit would pass it: not written.
    std::string text = netplan_dhcp_default_config;
    text.insert(0, "#" + std::string(config_file_cap - text.size() - 2, '-') + "\n");
    ASSERT_EQ(text.size(), config_file_cap);
    write_netplan(text);
    r = nk_test::run_bounded([this] { return value(NETWORK_CONFIG_TYPE::DNS1, "100.100.100.100") ? 0 : 1; });
    ASSERT_TRUE(r.finished);
    EXPECT_NE(r.output.find("would grow past 65536 bytes"), std::string::npos) << r.output;
    EXPECT_EQ(count_lines(r.output), 1u) << r.output;
    EXPECT_EQ(netplan(), text);
}

TEST_F(NetplanTest, ANewNetplanFileIsForItsOwnerOnly)
{
    ASSERT_TRUE(value(NETWORK_CONFIG_TYPE::DNS1, "9.9.9.9"));
    EXPECT_EQ(std::filesystem::status(path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(NetplanTest, EachCommandReadsTheFileOnceAndReplacesItAtMostOnce)
{
    network_mode = NETWORK_MODE::STATIC;
    write_netplan(netplan_static_default_config);
    const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(events, 0);
    // Closes are watched too: the kernel merges an event into an identical
    // one still queued, so open, open would count once.
    ASSERT_GE(inotify_add_watch(events, dir.path().c_str(), IN_OPEN | IN_CLOSE | IN_MOVED_TO), 0);
    // Opens and renames onto the netplan file's name since the last call.
    const auto take = [&](int& opens, int& renames) {
        opens = renames = 0;
        alignas(struct inotify_event) char block[8192];
        ssize_t n;
        while ((n = read(events, block, sizeof block)) > 0) {
            for (char* p = block; p < block + n;) {
                const auto* e = reinterpret_cast<const struct inotify_event*>(p);
                if (e->len > 0 && std::string(e->name) == "99-netcfg.yaml") {
                    opens += (e->mask & IN_OPEN) != 0;
                    renames += (e->mask & IN_MOVED_TO) != 0;
                }
                p += sizeof(struct inotify_event) + e->len;
            }
        }
    };
    int opens = 0;
    int renames = 0;
    take(opens, renames);
    const std::vector<std::pair<NETWORK_CONFIG_TYPE, const char*>> commands = {
        {NETWORK_CONFIG_TYPE::IP_ADDRESS, "10.0.0.5"}, {NETWORK_CONFIG_TYPE::SUBNETMASK, "255.255.0.0"},
        {NETWORK_CONFIG_TYPE::GATEWAY, "10.0.0.1"},    {NETWORK_CONFIG_TYPE::DNS1, "10.0.0.53"},
        {NETWORK_CONFIG_TYPE::DNS2, "10.0.0.54"},
    };
    for (const auto& [type, text] : commands) {
        ASSERT_TRUE(value(type, text));
        take(opens, renames);
        EXPECT_EQ(opens, 1) << static_cast<int>(type);
        EXPECT_EQ(renames, 1) << static_cast<int>(type);
    }
    const char dhcp[1] = {0};
    set_netplan_setting(path(), NETWORK_CONFIG_TYPE::MODE, dhcp);
    take(opens, renames);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(renames, 1);
    apply_netplan(path(), "run_Apply");
    take(opens, renames);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(renames, 0);
    close(events);
}

TEST_F(NetplanTest, ASettingReadWritesOnlyItsTextAndNul)
{
    network_mode = NETWORK_MODE::STATIC;
    char buffer[100];
    std::memset(buffer, '#', sizeof buffer);
    get_netplan_setting(path(), NETWORK_CONFIG_TYPE::GATEWAY, buffer);
    EXPECT_STREQ(buffer, "x.x.x.x");
    EXPECT_EQ(std::count(buffer + 8, buffer + sizeof buffer, '#'), 92);
}

TEST(NetworkCommandGuard, TheCommandsLogUnderTheirOwnNames)
{
    // Refused before the netplan file is touched.
    char dns1[] = "999.1.1.1";
    char dns2[] = "1.2.3";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(set_Config_Dns1(dns1));
    EXPECT_FALSE(set_Config_Dns2(dns2));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("[ERROR] set_Config_Dns1: refused", 0), 0u) << out;
    EXPECT_NE(out.find("\n[ERROR] set_Config_Dns2: refused"), std::string::npos) << out;
}

TEST(NetworkCommandGuard, AThrowingCommandIsOneErrorLineAndTheLinkGoesOn)
{
    testing::internal::CaptureStdout();
    EXPECT_FALSE(run_network_command("set_Config_Dns1", []() -> bool { throw std::bad_alloc(); }));
    EXPECT_FALSE(run_network_command("run_Apply", []() -> bool { throw 7; }));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[ERROR] set_Config_Dns1: std::bad_alloc; the command was not carried out\n"
              "[ERROR] run_Apply: unknown failure; the command was not carried out\n");
}
