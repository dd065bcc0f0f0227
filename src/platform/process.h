// Processes: the running game, starting programs, ending this one, pausing.
//
// [X] the tool-help snapshot becomes a scan of /proc: a process's name is /proc/PID/comm and the
//     last component of its argv[0] (split on '/' and '\'), so a game run under Wine is found
// [X] TerminateProcess becomes SIGKILL
// [X] CreateProcess of "Halcyra.exe quietmoor" becomes posix_spawn, directly when the file is
//     executable, otherwise through wine; inside a Wine prefix the client runs in that prefix
// [X] the process ends with _exit after flushing the standard streams: other threads are still
//     running, so static destructors must not run under them
// [X] a seam for tests: the process table can be replaced
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

struct ProcessEntry {
    int pid = 0;
    std::string name;  // /proc/PID/comm
    std::string argv0; // first word of /proc/PID/cmdline
};

struct ProcessTable {
    std::function<std::vector<ProcessEntry>()> list;
    std::function<bool(int pid)> terminate;
};
// The live table by default; tests install their own and restore with an empty table.
void setProcessTable(ProcessTable table);
// The live /proc scan and SIGKILL, whatever table is installed (for tests that narrow the view).
ProcessTable liveProcessTable();
std::vector<ProcessEntry> listProcesses();
bool terminateProcess(int pid);

// Starts `program` with `arguments` in `workingFolder` without waiting for it; false on failure.
bool startProcess(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& workingFolder);
// Starts a downloaded program as a detached process (ShellExecute "open" of an executable).
bool startDetached(const std::string& program);
// True when `path` holds a whole program that this system can run on this machine, as this
// program was built (an ELF of the same class, byte order and machine here, a PE on Windows),
// whose headers and every part they describe lie inside the file: a cut download fails.
bool isCompleteExecutable(const std::string& path);
// The launcher release that `path` carries in its file (an ELF note "ostrevan-release" here, the
// file version's first two words of its version resource on Windows), read without running it;
// 0 when it carries none or cannot be read.
std::uint32_t executableRelease(const std::string& path);
// Starts the game client `clientName` with `argument`: looked for in `launcherFolder`, then in the
// working folder, started directly when executable, otherwise through wine. On Windows the
// system's own search does this, in the folder of the launcher's executable.
bool startGameClient(const std::string& launcherFolder, const std::string& clientName,
                     const std::string& argument);
// Opens an address in the player's browser (ShellExecute "open" of a URL).
void openAddress(const std::string& url);

// One diagnostic line on standard error, written whole and flushed, so that lines from different
// threads never mix and none is lost when the process ends.
void diagnose(std::string_view line);

[[noreturn]] void endProcess(int exitCode);
// endProcess's last step: ends the process at once, running nothing.
[[noreturn]] void exitImmediately(int exitCode);

// Work that must still be done when some thread ends the process while another is half-way
// (a launcher moved aside to be put back, a partial download to remove). While an EndStep lives,
// endProcess runs its step, newest first, before the process ends.
class EndStep {
  public:
    explicit EndStep(std::function<void()> step);
    ~EndStep();
    EndStep(const EndStep&) = delete;
    EndStep& operator=(const EndStep&) = delete;

  private:
    unsigned long id_;
};
void sleepMilliseconds(int milliseconds);

} // namespace platform
