// The two ways to the Linux side's tools (see test_tools.h): directly on Linux, through the test
// broker under Wine.
#include "test_tools.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#ifdef _WIN32
#include <windows.h>

#include <cwchar>
#include <winsock2.h>
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace dltest {
namespace {

#ifdef _WIN32

std::string jsonText(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char digits[] = "0123456789abcdef";
            quoted.append("\\u00").push_back(digits[(c >> 4) & 0xF]);
            quoted.push_back(digits[c & 0xF]);
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string jsonList(const std::vector<std::string>& items) {
    std::string list = "[";
    for (const auto& item : items) {
        if (list.size() > 1) list.push_back(',');
        list.append(jsonText(item));
    }
    return list + "]";
}

// The number after "key": in the broker's answer, -1 when there is none.
long long jsonNumber(const std::string& answer, const std::string& key) {
    const auto at = answer.find("\"" + key + "\": ");
    return at == std::string::npos ? -1 : std::atoll(answer.c_str() + at + key.size() + 4);
}

// The text after "key": in the broker's answer (Python's json.dumps: ASCII, \uXXXX escapes).
std::string jsonString(const std::string& answer, const std::string& key) {
    auto at = answer.find("\"" + key + "\": \"");
    std::string text;
    if (at == std::string::npos) return text;
    for (at += key.size() + 5; at < answer.size() && answer[at] != '"'; ++at) {
        if (answer[at] != '\\' || at + 1 >= answer.size()) {
            text += answer[at];
            continue;
        }
        const char escaped = answer[++at];
        if (escaped == 'u' && at + 4 < answer.size()) {
            const auto code = std::strtoul(answer.substr(at + 1, 4).c_str(), nullptr, 16);
            at += 4;
            if (code < 0x80)
                text += static_cast<char>(code);
            else if (code < 0x800)
                text += {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
            else
                text +=
                    {static_cast<char>(0xE0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                     static_cast<char>(0x80 | (code & 0x3F))};
        } else {
            text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped == 'r' ? '\r' : escaped;
        }
    }
    return text;
}

struct SocketCloser {
    void operator()(SOCKET* socket) const {
        closesocket(*socket);
        delete socket;
    }
};

// One request to the broker, one line of JSON each way; empty when there is no broker.
std::string askBroker(const std::string& request) {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    // "PORT:TOKEN", from the broker that started this program.
    const char* broker = std::getenv("LAUNCHER_TEST_BROKER");
    const char* token = broker == nullptr ? nullptr : std::strchr(broker, ':');
    if (!started || token == nullptr) {
        std::fprintf(stderr, "no test broker: run this program through tests/support/wine_test_broker.py\n");
        return {};
    }
    const SOCKET raw = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (raw == INVALID_SOCKET) return {};
    const std::unique_ptr<SOCKET, SocketCloser> connection(new SOCKET(raw));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(broker)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return {};
    const std::string line = "{\"token\": " + jsonText(token + 1) + ", " + request.substr(1) + "\n";
    for (std::size_t sent = 0; sent < line.size();) {
        const int count = send(raw, line.data() + sent, static_cast<int>(line.size() - sent), 0);
        if (count <= 0) return {};
        sent += static_cast<std::size_t>(count);
    }
    std::string answer;
    char buffer[4096];
    for (int count; (count = recv(raw, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, count);
    return answer;
}

#else

const std::string serverScript =
    (std::filesystem::path(__FILE__).parent_path() / "http_test_server.py").lexically_normal().string();

// Starts `argv` in `folder` with its standard output on a pipe; the child, or 0.
pid_t spawn(const std::vector<std::string>& argv, const std::string& folder, int& output) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    output = out[0];
    return pid;
}

#endif

} // namespace

#ifdef _WIN32

int runTool(const std::vector<std::string>& argv, const std::string& folder, std::string* output) {
    const std::string answer =
        askBroker("{\"run\": " + jsonList(argv) + ", \"cwd\": " + jsonText(folder) + "}");
    if (output != nullptr) *output = jsonString(answer, "output");
    return static_cast<int>(jsonNumber(answer, "status"));
}

ToolServer::ToolServer(const std::vector<std::string>& arguments) {
    const std::string answer = askBroker("{\"serve\": " + jsonList(arguments) + "}");
    id_ = jsonNumber(answer, "id");
    port_ = static_cast<int>(jsonNumber(answer, "port"));
    if (port_ < 0) port_ = 0;
}

ToolServer::~ToolServer() {
    if (id_ > 0) askBroker("{\"stop\": " + std::to_string(id_) + "}");
}

long long processId() {
    return GetCurrentProcessId();
}

namespace {

// A copy of a test program started with this argument only waits to be ended, as a game runs.
const bool standInWaits = [] {
    if (std::wcsstr(GetCommandLineW(), L" --launcher-stand-in-game") == nullptr) return false;
    Sleep(600 * 1000);
    ExitProcess(0);
}();

std::wstring wide(const std::string& text) {
    std::wstring result(static_cast<std::size_t>(MultiByteToWideChar(
                            CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0)),
                        L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                        static_cast<int>(result.size()));
    return result;
}

} // namespace

StandInGame::StandInGame(const std::string& folder, const std::string& name) {
    wchar_t self[MAX_PATH];
    const DWORD size = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path = wide(folder + "/" + name);
    if (size == 0 || size >= MAX_PATH || !CopyFileW(self, path.c_str(), FALSE)) return;
    std::wstring commandLine = L"\"" + path + L"\" --launcher-stand-in-game";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started))
        return;
    CloseHandle(started.hThread);
    handle_ = started.hProcess;
    pid_ = static_cast<int>(started.dwProcessId);
}

StandInGame::~StandInGame() {
    end();
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

bool StandInGame::endedFromOutside() {
    return handle_ != nullptr && WaitForSingleObject(static_cast<HANDLE>(handle_), 10000) == WAIT_OBJECT_0;
}

void StandInGame::end() {
    if (handle_ == nullptr) return;
    TerminateProcess(static_cast<HANDLE>(handle_), 1);
    WaitForSingleObject(static_cast<HANDLE>(handle_), INFINITE);
}

void setVariable(const std::string& name, const char* value) {
    // The C library's copy and the process's own, which started programs inherit; "" removes.
    _putenv_s(name.c_str(), value == nullptr ? "" : value);
}

UndeletableFile::UndeletableFile(const std::string& path) : path_(path) {
    std::wstring wide;
    const int size = MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(size));
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(), size);
    // Open without FILE_SHARE_DELETE, as a running game or a virus scanner holds a file.
    const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    active_ = file != INVALID_HANDLE_VALUE;
    if (active_) handle_ = file;
}

UndeletableFile::~UndeletableFile() {
    if (active_) CloseHandle(static_cast<HANDLE>(handle_));
}

int UndeletableFile::refusalCode() {
    return ERROR_ACCESS_DENIED;
}

int folderNotFileCode() {
    return ERROR_DIRECTORY;
}

bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

#else

int runTool(const std::vector<std::string>& argv, const std::string& folder, std::string* output) {
    int pipe = -1;
    const pid_t pid = spawn(argv, folder, pipe);
    std::string text;
    char buffer[4096];
    for (ssize_t count; pipe >= 0 && (count = read(pipe, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(count));
    if (pipe >= 0) close(pipe);
    if (output != nullptr) *output = text;
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ToolServer::ToolServer(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"python3", serverScript};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    int pipe = -1;
    id_ = spawn(argv, "", pipe);
    std::string line;
    char c = 0;
    while (pipe >= 0 && read(pipe, &c, 1) == 1 && c != '\n') line += c;
    if (pipe >= 0) close(pipe);
    port_ = std::atoi(line.c_str());
}

ToolServer::~ToolServer() {
    if (id_ > 0) {
        kill(static_cast<pid_t>(id_), SIGTERM);
        waitpid(static_cast<pid_t>(id_), nullptr, 0);
    }
}

long long processId() {
    return getpid();
}

StandInGame::StandInGame(const std::string& folder, const std::string& name) {
    // Copied under the game's name, so that the kernel names the process so.
    const std::string path = folder + "/" + name;
    std::error_code error;
    std::filesystem::copy_file("/bin/sleep", path, std::filesystem::copy_options::overwrite_existing, error);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, error);
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>("600"), nullptr};
    pid_t pid = 0;
    if (!error && posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) == 0) pid_ = pid;
}

StandInGame::~StandInGame() {
    end();
}

bool StandInGame::endedFromOutside() {
    int status = 0;
    pid_t ended = 0;
    for (int waited = 0;
         pid_ > 0 && !reaped_ && waited < 1000 && (ended = waitpid(pid_, &status, WNOHANG)) == 0; ++waited)
        usleep(10000);
    if (ended != pid_) return false;
    reaped_ = true;
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

void StandInGame::end() {
    if (pid_ <= 0 || reaped_) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    reaped_ = true;
}

void setVariable(const std::string& name, const char* value) {
    if (value == nullptr)
        unsetenv(name.c_str());
    else
        setenv(name.c_str(), value, 1);
}

namespace {

bool setImmutable(const std::string& path, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    int flags = 0;
    bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return done;
}

} // namespace

// The immutable flag: even root cannot bypass it, and unlink refuses with EPERM.
UndeletableFile::UndeletableFile(const std::string& path) : path_(path), active_(setImmutable(path, true)) {}

UndeletableFile::~UndeletableFile() {
    if (active_) setImmutable(path_, false);
}

int UndeletableFile::refusalCode() {
    return EPERM;
}

int folderNotFileCode() {
    return EISDIR;
}

bool underWine() {
    return false;
}

#endif

} // namespace dltest
