#include "update/self_update.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <thread>

#include "app/dispatch.h"
#include "app/startup.h"
#include "platform/files.h"
#include "update/leftovers.h"
#include "update/temporary_names.h"
#include "update_test_support.h"

namespace {

using namespace updtest;
using Pieces = std::vector<std::string>;

// The suffix of program files on this system.
#ifdef _WIN32
const std::string programSuffix = ".exe";
#else
const std::string programSuffix;
#endif

const std::string oldLauncher = "#!/bin/sh\necho old > \"$(dirname \"$0\")/started\"\n";
const std::string markName = "started";
constexpr const char* notAProgram = "The published launcher is not a complete program for this system: ";

// The published launcher: a whole program for this machine that, started without arguments,
// leaves its name in "started" beside itself (this test program, running only the child test
// below, chosen through the environment it inherits), with other bytes at its end.
const std::string& publishedLauncher() {
    static const std::string bytes =
        readText(platform::executablePath()) + std::string("\0published 1.1\0", 15);
    return bytes;
}

TEST(SelfUpdateChild, DISABLED_leaves_its_mark_beside_itself) {
    const fs::path self = platform::executablePath();
    // Renamed into place whole: the test reads the mark as soon as its name appears.
    const fs::path mark = self.parent_path() / markName;
    writeText(mark.string() + ".new", self.filename().string());
    fs::rename(mark.string() + ".new", mark);
}

bool isExecutable(const std::string& path) {
    return (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

void writeProgram(const std::string& path, const std::string& content) {
    writeText(path, content);
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

// The started launcher runs on its own; give it a generous while to leave its mark.
bool appears(const std::string& path) {
    for (int i = 0; i < 1500 && !fs::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return fs::exists(path);
}

Pieces namesIn(const std::string& folder) {
    Pieces names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string serverAnswer(const std::string& text) {
    return dltest::message(1001, dltest::field(text));
}

TEST(LauncherNames, carry_the_brand_and_the_suffix_of_programs_on_this_system) {
    EXPECT_EQ(launcherFileName(), "OstrevanLauncher" + programSuffix);
    EXPECT_EQ(oldLauncherFileName(), "OstrevanLauncher_OLDVersion" + programSuffix);
}

// The published launcher spoilt in its executable format's own ways.
struct Spoilt {
    std::string otherMachine; // a program for another machine
    std::string library;      // no program: a library or an object file
    std::string cutInLastPart;
    std::string withoutRelease; // whole, but with its release unreadable
};

Spoilt spoil(const std::string& whole) {
    Spoilt spoilt{whole, whole, {}, whole};
#ifdef _WIN32
    const std::string releaseMark("\xBD\x04\xEF\xFE", 4); // VS_FIXEDFILEINFO's signature
#else
    const std::string releaseMark("\x11\0\0\0\x04\0\0\0\x01\0\0\0ostrevan-release", 28); // the note's head
#endif
#ifdef _WIN32
    // The last: the resource lies after the code and data, which may hold the same bytes.
    const auto mark = whole.rfind(releaseMark);
#else
    // The first: the note lies before the data, which holds the pattern above.
    const auto mark = whole.find(releaseMark);
#endif
    if (mark != std::string::npos) spoilt.withoutRelease[mark] = '\x7F';
#ifdef _WIN32
    // PE: the COFF header follows "PE\0\0" at e_lfanew (0x3C): machine, section count, ..., the
    // optional header's size at 16, characteristics at 18; then the optional header and the sections.
    const auto byte = [&](std::size_t at) {
        return static_cast<std::size_t>(static_cast<unsigned char>(whole[at]));
    };
    const auto u16 = [&](std::size_t at) { return byte(at) | byte(at + 1) << 8; };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const std::size_t coff = u32(0x3C) + 4;
    spoilt.otherMachine[coff] = static_cast<char>(spoilt.otherMachine[coff] ^ 0x01);
    spoilt.library[coff + 19] = static_cast<char>(spoilt.library[coff + 19] | 0x20); // IMAGE_FILE_DLL
    std::size_t end = 0;
    const std::size_t table = coff + 20 + u16(coff + 16);
    for (std::size_t i = 0; i < u16(coff + 2); ++i)
        end = std::max(end, u32(table + 40 * i + 20) + u32(table + 40 * i + 16));
    spoilt.cutInLastPart = whole.substr(0, end - 20);
#else
    spoilt.otherMachine[18] = static_cast<char>(spoilt.otherMachine[18] ^ 0x01); // e_machine
    spoilt.library[16] = 1; // e_type: a relocatable object, not a program
    spoilt.cutInLastPart = whole.substr(0, whole.size() - 16 - 20); // into the section headers
#endif
    return spoilt;
}

class SelfUpdateTest : public UpdateTest {
  protected:
    void SetUp() override {
        UpdateTest::SetUp();
        ASSERT_TRUE(server.started());
        // A copy of this program, of the build's release, is newer than release 0.
        useLauncherReleaseForTesting(0);
        // What a started copy of this program runs (see publishedLauncher).
        dltest::setVariable("GTEST_FILTER", "SelfUpdateChild.DISABLED_leaves_its_mark_beside_itself");
        dltest::setVariable("GTEST_ALSO_RUN_DISABLED_TESTS", "1");
    }
    void TearDown() override {
        useLauncherReleaseForTesting(std::nullopt);
        dltest::setVariable("GTEST_FILTER", nullptr);
        dltest::setVariable("GTEST_ALSO_RUN_DISABLED_TESTS", nullptr);
        UpdateTest::TearDown();
    }
    std::string launcher() const { return install + "OstrevanLauncher" + programSuffix; }
    std::string oldCopy() const { return install + "OstrevanLauncher_OLDVersion" + programSuffix; }
    std::string url() const { return server.url("patches/Launcher/OstrevanLauncher" + programSuffix); }
    void publish(const std::string& content) {
        serve("patches/Launcher/OstrevanLauncher" + programSuffix, content);
    }
    // True when the new launcher was put in place and started.
    bool replace() {
        ::testing::internal::CaptureStderr();
        const bool replaced = replaceLauncherIn(install, url());
        errors = ::testing::internal::GetCapturedStderr();
        return replaced;
    }
    // Which program left its mark, once one has.
    std::string startedProgram() { return appears(install + markName) ? readText(install + markName) : ""; }

    dltest::HttpTestServer server{served};
    std::string errors;
};

TEST_F(SelfUpdateTest, running_launcher_moves_aside_and_the_published_one_is_started_in_its_place) {
    writeProgram(launcher(), oldLauncher);
    publish(publishedLauncher());
    EXPECT_TRUE(replace());
    EXPECT_EQ(errors, "");
    EXPECT_EQ(requestedPaths(server), Pieces{"/patches/Launcher/OstrevanLauncher" + programSuffix});
    EXPECT_EQ(readText(oldCopy()), oldLauncher);
    EXPECT_EQ(readText(launcher()), publishedLauncher());
    EXPECT_TRUE(isExecutable(launcher()));
    EXPECT_EQ(startedProgram(), "OstrevanLauncher" + programSuffix);
    EXPECT_EQ(namesIn(install), (Pieces{"OstrevanLauncher" + programSuffix,
                                        "OstrevanLauncher_OLDVersion" + programSuffix, markName}));
}

// The update server publishes something that must never take the launcher's place.
TEST_F(SelfUpdateTest, launcher_that_is_not_a_whole_program_here_leaves_the_running_one_untouched) {
    const std::string& whole = publishedLauncher();
    const Spoilt spoilt = spoil(whole);
    const std::string script = "#!/bin/sh\necho script > \"$(dirname \"$0\")/started\"\n";
    const std::uint32_t release = builtInLauncherRelease();
    const auto notNewer = [this](std::uint32_t published, std::uint32_t own) {
        return url() + " is not newer than this launcher (release " + std::to_string(published) +
               " <= " + std::to_string(own) + ")\n";
    };
    const struct {
        const char* what;
        std::optional<std::string> published;
        std::string diagnostic;
        std::uint32_t own = 0;
    } cases[] = {
        {"nothing published", std::nullopt, "Download failed for: " + url() + " HRESULT: -404\n"},
        {"cut after 4096 bytes", whole.substr(0, 4096), notAProgram + url() + "\n"},
        {"cut at half", whole.substr(0, whole.size() / 2), notAProgram + url() + "\n"},
        {"cut in its last part", spoilt.cutInLastPart, notAProgram + url() + "\n"},
        {"a shell script", script, notAProgram + url() + "\n"},
        {"a program for another machine", spoilt.otherMachine, notAProgram + url() + "\n"},
        {"no program but a library", spoilt.library, notAProgram + url() + "\n"},
        {"empty", "", notAProgram + url() + "\n"},
        {"the same release (the running launcher itself)", whole, notNewer(release, release), release},
        {"an older release", whole, notNewer(release, release + 1), release + 1},
        {"a program without a release", spoilt.withoutRelease, notNewer(0, 0), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(served);
        if (c.published) publish(*c.published);
        writeProgram(launcher(), oldLauncher);
        useLauncherReleaseForTesting(c.own);
        EXPECT_FALSE(replace()) << "a refusal the status can name";
        EXPECT_EQ(errors, c.diagnostic);
        EXPECT_EQ(readText(launcher()), oldLauncher);
        EXPECT_TRUE(isExecutable(launcher()));
        EXPECT_EQ(namesIn(install), Pieces{"OstrevanLauncher" + programSuffix})
            << "moved aside, started or left behind";
    }
    // Whatever was started would have left its mark by now.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists(install + markName));
}

TEST_F(SelfUpdateTest, stale_old_copy_gives_way_so_the_running_launcher_is_kept_aside) {
    writeProgram(launcher(), oldLauncher);
    writeProgram(oldCopy(), "stale");
    replace();
    // The server has nothing: nothing moves.
    EXPECT_EQ(readText(launcher()), oldLauncher);
    EXPECT_EQ(readText(oldCopy()), "stale");

    publish(publishedLauncher());
    replace();
    EXPECT_EQ(readText(oldCopy()), oldLauncher);
    EXPECT_EQ(readText(launcher()), publishedLauncher());
}

TEST_F(SelfUpdateTest, launcher_under_another_name_still_gets_the_published_one) {
    writeProgram(install + "RenamedLauncher", oldLauncher);
    publish(publishedLauncher());
    replace();
    EXPECT_EQ(readText(install + "RenamedLauncher"), oldLauncher);
    EXPECT_FALSE(fs::exists(oldCopy()));
    EXPECT_EQ(readText(launcher()), publishedLauncher());
    EXPECT_EQ(startedProgram(), "OstrevanLauncher" + programSuffix);
}

TEST_F(SelfUpdateTest, only_executable_files_directly_in_the_folder_are_listed) {
    writeProgram(install + "Halcyra.exe", "game");
    writeProgram(launcher(), "launcher");
    writeText(install + "readme.txt", "text");
    fs::create_directories(install + "tools.exe");
    fs::permissions(install + "tools.exe", fs::perms::all);
    writeProgram(install + "tools.exe/inner", "inner");
    auto listed = listExecutables(install);
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Pieces{install + "Halcyra.exe", launcher()}));
    EXPECT_TRUE(listExecutables(install + "absent/").empty());
}

TEST_F(SelfUpdateTest, old_copies_are_removed_and_named_on_standard_output) {
    const std::string other = "Other_OLDVersion" + programSuffix;
    const std::string lowerCase = "Launcher_oldversion" + programSuffix;
    const std::string folder = "Folder_OLDVersion" + programSuffix;
    const std::string deep = "sub/Deep_OLDVersion" + programSuffix;
    writeProgram(oldCopy(), "stale");
    writeProgram(install + other, "stale too");
    writeProgram(launcher(), "current");
    writeProgram(install + "Halcyra.exe", "game");
    writeText(install + "notes_OLDVersion.txt", "not a program");
    writeProgram(install + lowerCase, "marker is case-sensitive");
    fs::create_directories(install + folder);
    fs::create_directories(install + "sub");
    writeProgram(install + deep, "not searched");

    ::testing::internal::CaptureStdout();
    removeOldLaunchersIn(install);
    std::string printed = ::testing::internal::GetCapturedStdout();
    Pieces lines;
    std::istringstream stream(printed);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (Pieces{oldCopy(), install + other}));
    EXPECT_FALSE(fs::exists(oldCopy()));
    EXPECT_FALSE(fs::exists(install + other));
    EXPECT_TRUE(fs::exists(launcher()));
    for (const auto& kept :
         {std::string("Halcyra.exe"), std::string("notes_OLDVersion.txt"), lowerCase, folder, deep})
        EXPECT_TRUE(fs::exists(install + kept)) << kept;
}

TEST_F(SelfUpdateTest, only_the_launchers_own_temporaries_are_removed_through_the_tree_but_not_beyond_it) {
    const std::string part = downloadPartSuffix();
    const std::string extracting = extractingPrefix();
    const std::string outside = scratch.path() + "/elsewhere/";
    fs::create_directories(outside);
    writeText(outside + "theirs" + part, "not ours");
    fs::create_directories(install + "Downloads");
    fs::create_directories(install + "data/deep/er");
    // Links; the MinGW build's standard library makes none (ENOSYS): there the rest is checked.
    std::error_code noLinks;
    fs::create_directory_symlink(outside, install + "data/linked", noLinks);
    if (!noLinks) fs::create_symlink(outside + "theirs" + part, install + "data/link" + part, noLinks);
    ASSERT_TRUE(!noLinks || noLinks == std::errc::function_not_supported) << noLinks.message();
    fs::create_directories(install + "data/folder" + part);
    const struct {
        std::string name;
        bool kept;
    } files[] = {
        {"Downloads/1002.zip" + part, false},
        {"Downloads/1003.zip" + part, true}, // may be resumed: its record lies beside it
        {"Downloads/1003.zip" + part + ".resume", true},
        {"Downloads/1004.zip" + part + ".resume", false}, // a record without its part
        {"data/deep/er/map.dat.2" + part, false},
        {"data/" + extracting + "7.tmp", false},
        {"OstrevanLauncher" + programSuffix + ".new", false},
        {"OstrevanLauncher" + programSuffix + ".new" + part, false},
        {"OstrevanLauncher" + programSuffix, true},
        {"data/map" + part + ".dat", true},
        // The player's and the game's files, named like the temporaries of other programs.
        {"saves/slot1.part", true},
        {"mods/HD-textures.zip.part", true},
        {"mods/bigmod.part.resume", true},
        {"screenshots/.extracting-ideas.txt", true},
        {"data/music.part", true},
        {"data/.extracting-cache", true},
    };
    for (const char* folder : {"saves", "mods", "screenshots"}) fs::create_directories(install + folder);
    for (const auto& file : files) writeText(install + file.name, "x");
    ::testing::internal::CaptureStdout();
    removeLeftoversIn(install);
    ::testing::internal::GetCapturedStdout();
    for (const auto& file : files) EXPECT_EQ(fs::exists(install + file.name), file.kept) << file.name;
    EXPECT_TRUE(fs::is_directory(install + "data/folder" + part));
    EXPECT_TRUE(noLinks || fs::is_symlink(install + "data/link" + part));
    EXPECT_EQ(readText(outside + "theirs" + part), "not ours");
}

TEST_F(SelfUpdateTest, clean_up_queued_at_start_up_ends_before_the_self_update_begins) {
    // The old copy a self-update of this run moves aside must survive the clean-up of the last
    // run's copy; both run on the update worker, the clean-up first.
    writeProgram(launcher(), oldLauncher);
    writeProgram(oldCopy(), "stale");
    writeText(install + "left" + downloadPartSuffix(), "x");
    publish(publishedLauncher());
    launcherState.serverAccepted = 0;
    MessageHandlers handlers;
    handlers.launcherSelfUpdate = [this](std::string_view) { replaceLauncherIn(install, url()); };
    setMessageHandlers(handlers);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    queueLeftoverRemoval(install);
    dispatchMessage(serverAnswer("false"));
    waitForUpdateWorker();
    errors = ::testing::internal::GetCapturedStderr();
    const std::string printed = ::testing::internal::GetCapturedStdout();
    setMessageHandlers({});
    launcherState.serverAccepted = 0;

    // The launcher the update started (this program) may add its own output after the line.
    EXPECT_EQ(printed.substr(0, printed.find('\n') + 1), oldCopy() + "\n") << printed;
    EXPECT_EQ(errors, "");
    EXPECT_EQ(readText(oldCopy()), oldLauncher);
    EXPECT_EQ(readText(launcher()), publishedLauncher());
    EXPECT_FALSE(fs::exists(install + "left" + downloadPartSuffix()));
}

// Run only inside a copy of this program (see the next test): cleans up the copy's own folder.
TEST(SelfUpdateChild, DISABLED_removes_old_launchers_beside_itself) {
    removeOldLaunchers();
}

TEST_F(SelfUpdateTest, clean_up_never_removes_the_running_launcher_even_under_the_old_name) {
    // A launcher that has just moved itself aside runs under the old-copy name while start-up
    // cleans the folder.
    const std::string running = install + "Moved_OLDVersion" + programSuffix;
    const std::string stale = install + "Stale_OLDVersion" + programSuffix;
    fs::copy_file(platform::executablePath(), running);
    writeProgram(stale, "stale");
    std::string printed;
    ASSERT_EQ(dltest::runTool({running, "--gtest_also_run_disabled_tests",
                               "--gtest_filter=SelfUpdateChild.DISABLED_removes_old_launchers_beside_itself"},
                              "", &printed),
              0);
    // The copy names its folder as the system gives it, with backslashes and CRLF on Windows.
    std::replace(printed.begin(), printed.end(), '\\', '/');
    printed.erase(std::remove(printed.begin(), printed.end(), '\r'), printed.end());
    EXPECT_TRUE(fs::exists(running));
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_NE(printed.find(stale + "\n"), std::string::npos) << printed;
    EXPECT_EQ(printed.find(running + "\n"), std::string::npos);
}

TEST_F(SelfUpdateTest, answers_other_than_false_leave_the_launcher_alone) {
    const std::string tooShort[] = {std::string("\xE9\x03\x00", 3), std::string("\xE9\x03\x00\x00", 4)};
    for (const std::string& message :
         {serverAnswer("False"), serverAnswer("false "), serverAnswer(" false"), serverAnswer("true"),
          serverAnswer(""), serverAnswer("fals"), tooShort[0], tooShort[1]}) {
        // Returning at all shows that the process was not ended.
        runLauncherSelfUpdate(message);
        EXPECT_EQ(statusText(), initialStatusText);
        EXPECT_EQ(updatePhase(), 1);
    }
}

} // namespace
