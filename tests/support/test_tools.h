// The Linux side's tools for the tests: the loopback HTTP test server, Python, Info-ZIP, md5sum.
// A Linux test program starts them itself; the same program built for Windows runs under Wine and
// asks tests/support/wine_test_broker.py to start them outside Wine (paths it passes are Windows
// paths, which the broker maps back). So the same test sources serve both builds.
#pragma once

#include <string>
#include <vector>

namespace dltest {

// Runs `argv` (its first element looked up in the Linux side's PATH) in `folder` when one is
// given. Its exit status, -1 when it could not run; its standard output in `output` when asked.
int runTool(const std::vector<std::string>& argv, const std::string& folder = {},
            std::string* output = nullptr);

// tests/support/http_test_server.py started with `arguments`, ended with the object.
class ToolServer {
  public:
    explicit ToolServer(const std::vector<std::string>& arguments);
    ~ToolServer();
    ToolServer(const ToolServer&) = delete;
    ToolServer& operator=(const ToolServer&) = delete;
    // The port it listens on, 0 when it did not start.
    int port() const { return port_; }

  private:
    long long id_ = 0; // the server's process, as the starter knows it
    int port_ = 0;
};

// A stand-in game: a program file `name` in `folder` that runs until it is ended (10 minutes at
// most), ended at the end of the test. A copy of sleep on Linux; on Windows a copy of this test
// program that only waits.
class StandInGame {
  public:
    StandInGame(const std::string& folder, const std::string& name);
    ~StandInGame();
    StandInGame(const StandInGame&) = delete;
    StandInGame& operator=(const StandInGame&) = delete;
    int pid() const { return pid_; }
    // Waits (10 s at most) for its end; true when it was ended from outside, as it never ends by
    // itself in a test's time: killed on Linux, terminated on Windows.
    bool endedFromOutside();
    // Ends it now and waits for that.
    void end();

  private:
    int pid_ = 0;
    void* handle_ = nullptr;
    bool reaped_ = false;
};

// This test process's id, for names no other test process uses.
long long processId();

// The error code a deletion reports for a folder where a file was expected: EISDIR, or
// ERROR_DIRECTORY.
int folderNotFileCode();

// True in a Windows program that runs under Wine, for cases Wine does not behave as Windows in.
bool underWine();

// Sets an environment variable for this process and the programs it starts; `value` null removes it.
void setVariable(const std::string& name, const char* value);

// A file whose deletion the system refuses with the kind of error that is retried, while the
// object lives: the immutable flag on Linux (needs CAP_LINUX_IMMUTABLE and ext4), a handle that
// does not share deletion on Windows. `active()` is false where that cannot be had.
class UndeletableFile {
  public:
    explicit UndeletableFile(const std::string& path);
    ~UndeletableFile();
    UndeletableFile(const UndeletableFile&) = delete;
    UndeletableFile& operator=(const UndeletableFile&) = delete;
    bool active() const { return active_; }
    // The error code a refused replacement reports: EPERM, or ERROR_ACCESS_DENIED.
    static int refusalCode();

  private:
    std::string path_;
    void* handle_ = nullptr;
    bool active_ = false;
};

} // namespace dltest
