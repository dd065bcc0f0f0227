#include "fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>
#include <system_error>

#include "platform/dialogs.h"
#include "platform/process.h"
#include "update/download.h"

namespace fuzz {
namespace {

namespace fs = std::filesystem;

class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

} // namespace

std::string requireScratchInstall() {
    const std::string folder = installFolder();
    std::error_code error;
    if (folder.empty() || !fs::exists(fs::path(folder) / scratchMarker, error)) {
        std::fprintf(stderr,
                     "this target writes into its own folder (%s); run it through scripts/fuzz.sh, "
                     "which copies it into a scratch folder holding %s\n",
                     folder.c_str(), scratchMarker);
        std::abort();
    }
    return folder;
}

std::map<std::string, std::string> treeOutside(const std::string& sandbox, const std::string& folder) {
    auto entries = listTree(sandbox);
    const std::string inside = folder.substr(0, folder.size() - 1);
    std::erase_if(entries, [&](const auto& entry) { return entry.first.starts_with(inside); });
    return entries;
}

std::string sandboxOf(const std::string& install) {
    return install.substr(0, install.find_last_of('/', install.size() - 2) + 1);
}

std::map<std::string, std::string> listTree(const std::string& folder) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const fs::file_status status = it->symlink_status(error);
        std::string kind = fs::is_directory(status) ? "dir" : fs::is_symlink(status) ? "link" : "file";
        if (kind == "file") kind += " " + std::to_string(it->file_size(error));
        entries[it->path().string()] = kind;
    }
    return entries;
}

void requireSameTree(const std::map<std::string, std::string>& before,
                     const std::map<std::string, std::string>& after, const char* what) {
    if (before == after) return;
    std::fprintf(stderr, "%s: the tree changed\n", what);
    for (const auto& [path, kind] : before)
        if (!after.count(path) || after.at(path) != kind)
            std::fprintf(stderr, "  - %s %s\n", path.c_str(), kind.c_str());
    for (const auto& [path, kind] : after)
        if (!before.count(path) || before.at(path) != kind)
            std::fprintf(stderr, "  + %s %s\n", path.c_str(), kind.c_str());
    std::abort();
}

void emptyFolder(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        // Extraction may leave read-only files and folders behind; make them removable first,
        // never through a link (a target may hold links to files elsewhere).
        const auto options = fs::perm_options::add | fs::perm_options::nofollow;
        std::error_code ignored; // a link refuses the change, which is the point
        fs::permissions(entry.path(), fs::perms::owner_all, options, ignored);
        for (auto it = fs::recursive_directory_iterator(entry.path(), error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error))
            fs::permissions(it->path(), fs::perms::owner_all, options, ignored);
        fs::remove_all(entry.path(), error);
    }
}

void quietDiagnostics() {
    if (std::getenv("FUZZ_VERBOSE")) return;
    static NullBuffer nothing;
    std::cerr.rdbuf(&nothing);
    std::wcerr.rdbuf(nullptr);
}

Scratch prepareScratch() {
    quietDiagnostics();
    // Downloads go to an address nobody answers: their retries need no real pause.
    setDownloadRetryPause([](int) {});
    Scratch scratch;
    scratch.install = requireScratchInstall();
    scratch.sandbox = sandboxOf(scratch.install);
    scratch.game = scratch.install + "game/";
    // Changing or deleting it is a write outside the install folder.
    std::ofstream(scratch.sandbox + "canary.txt") << "keep me\n";
    return scratch;
}

void standInForProcessesAndDialogs() {
    platform::setProcessTable(
        {[] { return std::vector<platform::ProcessEntry>{}; }, [](int) { return false; }});
    platform::setDialogHook([](const platform::DialogRequest&) { return platform::DialogAnswer::no; });
}

} // namespace fuzz
