// Helpers shared by the tests: fresh temporary folders, file access and the
// recording fakes of system commands.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace nk_test {

// A fresh folder, removed with everything in it when the holder goes.
class TempDir {
public:
    explicit TempDir(const std::string& parent = "/tmp")
    {
        std::string tmpl = parent + "/nk-test-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed under " + parent);
        }
        path_ = tmpl;
    }
    ~TempDir()
    {
        nftw(
            path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs the test in a folder of its own (the daemon's settings file is
// relative to the working directory); returns to the old folder afterwards.
class ScopedCwd {
public:
    explicit ScopedCwd(const std::string& dir)
    {
        char buf[4096];
        old_ = getcwd(buf, sizeof buf) ? buf : "/";
        if (chdir(dir.c_str()) != 0) {
            throw std::runtime_error("chdir failed: " + dir);
        }
    }
    ~ScopedCwd() { (void)!chdir(old_.c_str()); }

private:
    std::string old_;
};

// Sets an environment variable for the holder's lifetime.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name)
    {
        const char* old = getenv(name);
        had_ = old != nullptr;
        if (had_) {
            old_ = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (had_) {
            setenv(name_.c_str(), old_.c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

inline std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool file_exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

inline void write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline std::vector<std::string> read_lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The daemon's check before "netplan apply", as a call of the fakes shows it
// once with_root_shown() has put "<root>" for its private root folder.
const std::string generate_call = "netplan generate --root-dir <root>";

inline std::vector<std::string> with_root_shown(std::vector<std::string> calls)
{
    const std::string head = "netplan generate --root-dir ";
    for (std::string& call : calls) {
        if (call.rfind(head, 0) == 0) {
            call = generate_call;
        }
    }
    return calls;
}

// The recording fakes of netplan, hostnamectl and lsb_release, first in PATH
// for the holder's lifetime. Each call of a fake adds one line ("name arg
// arg...") to log().
class FakeCommands {
public:
    explicit FakeCommands(const TempDir& dir)
        : log_(dir.file("fake-commands.log")),
          path_("PATH", std::string(NODEKEEPER_SOURCE_DIR "/tests/fakes:") + getenv_or("PATH", "/usr/bin:/bin")),
          log_env_("NK_FAKE_LOG", log_)
    {}
    const std::string& log() const { return log_; }
    std::vector<std::string> calls() const { return read_lines(log_); }

private:
    static std::string getenv_or(const char* name, const char* fallback)
    {
        const char* v = getenv(name);
        return v ? v : fallback;
    }
    std::string log_;
    ScopedEnv path_;
    ScopedEnv log_env_;
};

}  // namespace nk_test
