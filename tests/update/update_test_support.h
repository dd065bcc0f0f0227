// Helpers for the tests of extraction, patching, self-update and the integrity check: real ZIP
// archives made by Python's zipfile or Info-ZIP, a loopback HTTP server, the shared state, and a
// process table in which the game never runs (so no test waits on a question to the player).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "../support/http_test_server.h"
#include "../support/server_messages.h"
#include "../support/test_folder.h"
#include "../support/test_tools.h"
#include "core/launcher_state.h"
#include "platform/dialogs.h"
#include "platform/process.h"
#include "update/download.h"

namespace updtest {

namespace fs = std::filesystem;
using dltest::field;
using dltest::fileList;
using dltest::Listed;
using dltest::patchList;
using dltest::readText;
using dltest::writeText;

// Runs `body` (Python, lines without indentation) with `z` an open zipfile.ZipFile writing
// `archive` with `compression` (ZIP_STORED or ZIP_DEFLATED). `os`, `sys`, `time` and `zipfile`
// are imported.
inline bool makePythonArchive(const std::string& archive, const std::string& body,
                              const std::string& compression = "ZIP_DEFLATED") {
    std::string script = "import os, sys, time, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile." +
                         compression + ") as z:\n    pass\n";
    std::istringstream lines(body);
    for (std::string line; std::getline(lines, line);) script += "    " + line + "\n";
    const std::string scriptPath = archive + ".py";
    writeText(scriptPath, script);
    const bool made = dltest::runTool({"python3", scriptPath, archive}) == 0;
    fs::remove(scriptPath);
    return made;
}

// Archives everything under `source` with Info-ZIP; `options` such as "-0" for stored entries.
inline bool makeInfoZipArchive(const std::string& archive, const std::string& source,
                               const std::string& options = "") {
    std::vector<std::string> argv = {"zip", "-q", "-r"};
    if (!options.empty()) argv.push_back(options);
    argv.insert(argv.end(), {archive, "."});
    return dltest::runTool(argv, source) == 0;
}

inline std::string statusText() {
    std::lock_guard lock(launcherState.textLock);
    return launcherState.statusText;
}

inline std::string gameVersion() {
    return currentGameVersion();
}

inline std::int32_t updatePhase() {
    return launcherState.updatePhase.load();
}

inline std::string md5Of(const std::string& text) {
    // Through md5sum, so the expected digests never come from the code under test.
    const std::string path =
        (fs::temp_directory_path() / ("updtest-md5-" + std::to_string(dltest::processId()))).string();
    writeText(path, text);
    std::string digest;
    dltest::runTool({"md5sum", path}, "", &digest);
    fs::remove(path);
    return digest.substr(0, 32);
}

// Paths of the requests the server saw, in order.
inline std::vector<std::string> requestedPaths(const dltest::HttpTestServer& server) {
    std::vector<std::string> paths;
    std::istringstream lines(server.requestLog());
    for (std::string line; std::getline(lines, line);) {
        const auto key = line.find("\"path\": \"");
        if (key == std::string::npos) continue;
        const auto start = key + 9;
        paths.push_back(line.substr(start, line.find('"', start) - start));
    }
    return paths;
}

// A fixture with a fresh installation folder (ending with '/'), a server folder, the game
// never running, and the shared state put back to its start.
class UpdateTest : public ::testing::Test {
  protected:
    UpdateTest() {
        fs::create_directories(install);
        fs::create_directories(served);
    }
    void SetUp() override {
        ASSERT_FALSE(scratch.path().empty());
        platform::setProcessTable({[this] {
                                       onProcessScan();
                                       return std::vector<platform::ProcessEntry>{};
                                   },
                                   [](int) { return false; }});
        setStatusText(initialStatusText);
        setUpdatePhase(1);
        setGameVersion("");
        // Failed downloads are tried again; the tests do not sit through the pauses.
        setDownloadRetryPause([](int) {});
    }
    void TearDown() override {
        platform::setProcessTable({});
        platform::setDialogHook({});
        setDownloadRetryPause({});
    }

    // Runs at every look of the game guard, before each download and again right before the
    // download is extracted or put in place: the state as it stands then.
    virtual void onProcessScan() {
        std::lock_guard lock(scanLock);
        statusAtDownload.push_back(statusText());
    }

    // The game starts right after the guard's first look, while the download runs, and the player
    // answers No; the captions of the boxes shown are kept in `boxes`.
    // The game appears after the first `quietScans` looks at the process list.
    void startGameDuringTheDownload(int quietScans = 1) {
        platform::setProcessTable({[this, quietScans] {
                                       std::lock_guard lock(scanLock);
                                       if (++scans <= quietScans)
                                           return std::vector<platform::ProcessEntry>{};
                                       return std::vector<platform::ProcessEntry>{{4242, "Halcyra.exe", ""}};
                                   },
                                   [](int) { return false; }});
        platform::setDialogHook([this](const platform::DialogRequest& request) {
            std::lock_guard lock(scanLock);
            boxes.push_back(request.caption);
            return request.buttons == platform::DialogButtons::ok ? platform::DialogAnswer::ok
                                                                  : platform::DialogAnswer::no;
        });
    }

    void serve(const std::string& relative, const std::string& content) const {
        fs::create_directories(fs::path(served + relative).parent_path());
        writeText(served + relative, content);
    }

    dltest::TestFolder scratch;
    const std::string install = scratch.path() + "/install/";
    const std::string served = scratch.path() + "/served/";
    std::mutex scanLock;
    std::vector<std::string> statusAtDownload;
    int scans = 0;
    std::vector<std::string> boxes;
};

} // namespace updtest
