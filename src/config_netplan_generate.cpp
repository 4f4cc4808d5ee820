// netplan generate as the judge of a netplan file's text (see
// run_netplan_generate in config_internal.h): a private copy in a root
// folder of the daemon's own, "netplan generate --root-dir" on it, the root
// folder removed afterwards.
#include <fcntl.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "config_internal.h"

namespace {

// The copy's path below the root folder: where netplan looks for the node's
// file.
const char* const copy_path = netplan_file_path + platform::sysroot_length;
// Name of a root folder in the daemon's folder; mkdtemp fills in the X.
constexpr char root_name[] = "/generate-XXXXXX";
// Folders that netplan generate leaves in a root folder are few and flat.
constexpr int removal_descriptors = 8;

// Makes `path` a folder (and the folders above it that are missing): the
// last one only for this user.
bool make_folders(const std::string& path, std::string& why)
{
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const bool last = slash == std::string::npos;
        const std::string folder = last ? path : path.substr(0, slash);
        if (mkdir(folder.c_str(), last ? 0700 : 0755) != 0 && errno != EEXIST) {
            why = folder + " cannot be created: " + error_text(errno);
            return false;
        }
        if (last) {
            return true;
        }
    }
}

// The daemon's folder: a real folder (not a link) of this process's user
// that nobody else may write into, so that no one can swap the root folder
// netplan writes into.
bool make_own_folder(const std::string& folder, std::string& why)
{
    if (!make_folders(folder, why)) {
        return false;
    }
    struct stat st;
    if (lstat(folder.c_str(), &st) != 0) {
        why = folder + " cannot be examined: " + error_text(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        why = folder + " is not a folder of this user's alone";
        return false;
    }
    return true;
}

// Writes the copy under `root`, in the folders netplan reads.
bool write_copy(const std::string& root, const std::string& text, std::string& why)
{
    const std::string copy = root + copy_path;
    if (!make_folders(copy.substr(0, copy.rfind('/')), why)) {
        return false;
    }
    Fd_Holder fd(open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.get() < 0 || !write_all(fd.get(), text.data(), text.size()) || !fd.close_now()) {
        why = "the copy of the netplan file cannot be written: " + error_text(errno);
        return false;
    }
    return true;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW*) { return remove(path); }

// `text` with every `from` taken out.
std::string without(std::string text, const std::string& from)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.erase(at, from.size());
    }
    return text;
}

}  // namespace

Netplan_Verdict run_netplan_generate(const std::string& text, const Generate_Options& options)
{
    Netplan_Verdict verdict;
    std::string root = std::string(options.folder) + root_name;
    if (!make_own_folder(options.folder, verdict.message)) {
        return verdict;
    }
    if (mkdtemp(&root[0]) == nullptr) {
        verdict.message = "no private folder in " + std::string(options.folder) + ": " + error_text(errno);
        return verdict;
    }
    if (write_copy(root, text, verdict.message)) {
        const char* const argv[] = {"netplan", "generate", "--root-dir", root.c_str(), nullptr};
        const Program_Call call{"netplan generate", argv, options.deadline, options.term_grace, options.interrupt};
        Program_Result result;
        run_program_call(&call, &result);
        if (result.succeeded()) {
            verdict.judgement = Netplan_Judgement::ACCEPTED;
        } else if (result.outcome == Program_Outcome::EXITED) {
            verdict.judgement = Netplan_Judgement::REJECTED;
            verdict.exit_status = result.status;
            verdict.message = without(choose_program_message(result.errors, result.output), root);
        } else {
            verdict.message = without(describe_program_failure(call, result), root);
        }
    }
    nftw(root.c_str(), remove_entry, removal_descriptors, FTW_DEPTH | FTW_PHYS);
    return verdict;
}
