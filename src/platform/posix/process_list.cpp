// The running processes (the tool-help snapshot) and ending one (TerminateProcess).
//
// [X] every numeric entry of /proc is a process; its name is /proc/PID/comm, its argv[0] the first
//     NUL-terminated word of /proc/PID/cmdline (empty for kernel threads)
// [X] zombies (state 'Z' or 'X' in /proc/PID/stat) are skipped: they have ended and hold no file
// [X] a process that ends while the scan runs is simply left out: its files are read with
//     open/read, whose failures (ENOENT, ESRCH once it is gone) are results, never exceptions
// [X] TerminateProcess becomes SIGKILL; like the original it does not wait for the end
// [ ] comm is cut to 15 bytes by the kernel; the game's name is shorter, so nothing is lost
// [X] a seam for tests: either function of the table can be replaced, an empty one restores the live one
#include "platform/process.h"

#include "platform/files.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
namespace {

std::mutex tableLock;
ProcessTable installedTable;

bool isProcessNumber(const std::string& name) {
    if (name.empty()) return false;
    for (const char c : name)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

struct Descriptor {
    int value;
    ~Descriptor() {
        if (value >= 0) close(value);
    }
};

// A /proc file whose process ends half-way fails its read (ESRCH): that is a result here.
std::optional<std::string> readWhole(const std::string& path) {
    const Descriptor file{open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.value < 0) return std::nullopt;
    std::string text;
    char block[4096];
    for (;;) {
        const ssize_t got = read(file.value, block, sizeof block);
        if (got == 0) return text;
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        text.append(block, static_cast<std::size_t>(got));
    }
}

// The state letter follows the last ')': comm itself may hold spaces and parentheses.
bool hasEnded(const std::string& stat) {
    const auto close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return true;
    const char state = stat[close + 2];
    return state == 'Z' || state == 'X';
}

std::optional<ProcessEntry> readProcess(const std::string& pidText) {
    const std::string folder = "/proc/" + pidText + "/";
    const auto stat = readWhole(folder + "stat");
    if (!stat || hasEnded(*stat)) return std::nullopt;
    auto comm = readWhole(folder + "comm");
    if (!comm) return std::nullopt;
    if (!comm->empty() && comm->back() == '\n') comm->pop_back();
    ProcessEntry entry;
    const auto parsed = std::from_chars(pidText.data(), pidText.data() + pidText.size(), entry.pid);
    if (parsed.ec != std::errc{}) return std::nullopt;
    entry.name = std::move(*comm);
    if (const auto cmdline = readWhole(folder + "cmdline"))
        entry.argv0 = cmdline->substr(0, cmdline->find('\0'));
    return entry;
}

std::vector<ProcessEntry> scanProcesses() {
    std::vector<ProcessEntry> entries;
    for (const auto& name : listFolder("/proc")) {
        if (!isProcessNumber(name)) continue;
        if (auto entry = readProcess(name)) entries.push_back(std::move(*entry));
    }
    return entries;
}

bool killProcess(int pid) {
    return pid > 0 && kill(pid, SIGKILL) == 0;
}

} // namespace

void setProcessTable(ProcessTable table) {
    std::lock_guard lock(tableLock);
    installedTable = std::move(table);
}

ProcessTable liveProcessTable() {
    return ProcessTable{scanProcesses, killProcess};
}

std::vector<ProcessEntry> listProcesses() {
    std::function<std::vector<ProcessEntry>()> list;
    {
        std::lock_guard lock(tableLock);
        list = installedTable.list;
    }
    return list ? list() : scanProcesses();
}

bool terminateProcess(int pid) {
    std::function<bool(int)> terminate;
    {
        std::lock_guard lock(tableLock);
        terminate = installedTable.terminate;
    }
    return terminate ? terminate(pid) : killProcess(pid);
}

} // namespace platform
