// The /proc scan and SIGKILL, with real child processes.
#include "platform/process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "../support/test_processes.h"

namespace {

using dltest::ChildProcess;
using dltest::standInProgram;
using dltest::TestFolder;

std::optional<platform::ProcessEntry> findPid(int pid) {
    for (const auto& entry : platform::listProcesses())
        if (entry.pid == pid) return entry;
    return std::nullopt;
}

// The child as listed once it runs `name`: between fork and exec it still bears this program's.
std::optional<platform::ProcessEntry> findStarted(int pid, const std::string& name) {
    auto entry = findPid(pid);
    for (int i = 0; i < 1000 && entry && entry->name != name; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        entry = findPid(pid);
    }
    return entry;
}

TEST(ProcessList, names_a_process_by_its_executable_and_argv0) {
    TestFolder folder;
    const std::string program = standInProgram(folder.path(), "Halcyra.exe");
    ChildProcess child(program, {program, "600"});
    ASSERT_GT(child.pid(), 0);
    const auto entry = findStarted(child.pid(), "Halcyra.exe");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Halcyra.exe");
    EXPECT_EQ(entry->argv0, program);
}

TEST(ProcessList, keeps_a_windows_style_argv0_whole) {
    ChildProcess child("/bin/sleep", {"C:\\Games\\Halcyra.exe", "600"});
    ASSERT_GT(child.pid(), 0);
    const auto entry = findStarted(child.pid(), "sleep");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "sleep");
    EXPECT_EQ(entry->argv0, "C:\\Games\\Halcyra.exe");
}

TEST(ProcessList, lists_this_process) {
    EXPECT_TRUE(findPid(getpid()));
}

TEST(ProcessList, terminated_process_dies_by_sigkill_and_its_zombie_is_not_listed) {
    ChildProcess child("/bin/sleep", {"sleep", "600"});
    ASSERT_GT(child.pid(), 0);
    ASSERT_TRUE(platform::terminateProcess(child.pid()));
    // Until reaped the child is a zombie that /proc still shows; it must not count as running.
    siginfo_t info{};
    ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child.pid()), &info, WEXITED | WNOWAIT), 0);
    EXPECT_FALSE(findPid(child.pid()));
    EXPECT_EQ(child.reap(), SIGKILL);
}

TEST(ProcessTableSeam, installed_table_answers_and_empty_table_restores_the_live_one) {
    platform::setProcessTable({[] {
                                   return std::vector<platform::ProcessEntry>{{42, "fake", "fake"}};
                               },
                               [](int pid) { return pid == 42; }});
    const auto faked = platform::listProcesses();
    ASSERT_EQ(faked.size(), 1u);
    EXPECT_EQ(faked[0].name, "fake");
    EXPECT_TRUE(platform::terminateProcess(42));
    platform::setProcessTable({});
    EXPECT_TRUE(findPid(getpid()));
}

TEST(ProcessTableSeam, live_table_reads_proc_whatever_is_installed) {
    platform::setProcessTable({[] { return std::vector<platform::ProcessEntry>{}; }, nullptr});
    bool found = false;
    for (const auto& entry : platform::liveProcessTable().list()) found = found || entry.pid == getpid();
    platform::setProcessTable({});
    EXPECT_TRUE(found);
}

} // namespace
