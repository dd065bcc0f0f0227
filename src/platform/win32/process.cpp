// Processes through Kernel32 and the shell: the tool-help snapshot, TerminateProcess,
// CreateProcessW for the game client, ShellExecute for a new launcher and for addresses.
//
// [X] CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS) walked with Process32FirstW/Process32NextW; a
//     process's name is the entry's executable file name without folder
// [X] OpenProcess(PROCESS_TERMINATE, not inheritable) + TerminateProcess with exit code 0; like
//     the original it does not wait for the end
// [X] CreateProcessW with no application name, the command line "Halcyra.exe quietmoor" and the
//     working folder ".": the system looks in the launcher's folder first, then in the working
//     folder; the wide form, so that any folder name works
// [X] ShellExecuteW "open" for a downloaded launcher and for addresses
// [X] the process ends with TerminateProcess after the end steps: other threads are still running,
//     so neither static destructors nor the libraries' detach routines may run under them
// [X] a seam for tests: the process table can be replaced
#include "platform/process.h"
#include "platform/files.h"

#include "wide_text.h"

#include <windows.h>

#include <shellapi.h>
#include <tlhelp32.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <thread>

namespace platform {
namespace {

using win32::narrow;
using win32::ownHandle;
using win32::UniqueHandle;
using win32::widen;

std::mutex tableLock;
ProcessTable installedTable;

std::vector<ProcessEntry> snapshotProcesses() {
    std::vector<ProcessEntry> entries;
    const UniqueHandle snapshot = ownHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return entries;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        ProcessEntry process;
        process.pid = static_cast<int>(entry.th32ProcessID);
        process.name = narrow(entry.szExeFile);
        process.argv0 = process.name;
        entries.push_back(std::move(process));
    }
    return entries;
}

bool endOtherProcess(int pid) {
    if (pid <= 0) return false;
    const UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid)));
    return process && TerminateProcess(process.get(), 0) != 0;
}

// The Microsoft C runtime's rules for reading a command line back into arguments.
std::wstring quoteArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

bool shellOpen(const std::string& target) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", widen(target).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    // Values up to 32 are error codes.
    return result > 32;
}

} // namespace

void setProcessTable(ProcessTable table) {
    std::lock_guard lock(tableLock);
    installedTable = std::move(table);
}

ProcessTable liveProcessTable() {
    return ProcessTable{snapshotProcesses, endOtherProcess};
}

std::vector<ProcessEntry> listProcesses() {
    std::function<std::vector<ProcessEntry>()> list;
    {
        std::lock_guard lock(tableLock);
        list = installedTable.list;
    }
    return list ? list() : snapshotProcesses();
}

bool terminateProcess(int pid) {
    std::function<bool(int)> terminate;
    {
        std::lock_guard lock(tableLock);
        terminate = installedTable.terminate;
    }
    return terminate ? terminate(pid) : endOtherProcess(pid);
}

bool startProcess(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& workingFolder) {
    std::wstring commandLine = quoteArgument(widen(program));
    for (const auto& argument : arguments) commandLine += L" " + quoteArgument(widen(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    const std::wstring folder = widen(workingFolder.empty() ? "." : workingFolder);
    if (!CreateProcessW(widen(program).c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &started)) {
        diagnose("Cannot start " + program + ": error " + std::to_string(GetLastError()));
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

bool startDetached(const std::string& program) {
    if (shellOpen(program)) return true;
    diagnose("Cannot start " + program + ": error " + std::to_string(GetLastError()));
    return false;
}

bool startGameClient(const std::string& /*launcherFolder*/, const std::string& clientName,
                     const std::string& argument) {
    // No application name: the system takes the program from the command line's first word and
    // looks in the launcher's own folder first, then in the working folder. The wide call, so
    // that a folder named outside the ANSI code page is found as well. The launcher's folder is
    // that of its own executable, whatever the caller names.
    std::wstring commandLine = widen(clientName + " " + argument);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, L".", &startup,
                        &started)) {
        diagnose("Cannot start " + clientName + ": error " + std::to_string(GetLastError()));
        return false;
    }
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return true;
}

void openAddress(const std::string& url) {
    shellOpen(url);
}

void exitImmediately(int exitCode) {
    // Unlike ExitProcess, nothing of the libraries' own shutdown runs while the interface thread
    // may still be inside the graphics driver.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
    for (;;) Sleep(INFINITE);
}

void diagnose(std::string_view line) {
    std::string text(line);
    text += '\n';
    std::cerr << text << std::flush;
}

void sleepMilliseconds(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace platform
