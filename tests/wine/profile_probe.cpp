// Answers profile look-ups and writes from a command stream, one answer line per command. Built
// twice from this one source: natively against the launcher's profile layer, and for Windows with
// MinGW-w64 against the real private-profile functions (run under Wine). A driver feeds both the
// same stream and compares the answers.
//
// Commands on standard input, one a line; every text field is the hex of its UTF-8 bytes, "." when
// empty; file names are relative to the folder given as the only argument:
//   S <buffer size> <file> <section> <key> <default>  -> the text read (hex)
//   I <file> <section> <key> <default, decimal>       -> the integer read (decimal)
//   W <file> <section> <key> <value>                  -> 1 when written, else 0
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include "platform/profile.h"
#endif

namespace {

std::string unhex(const std::string& field) {
    std::string bytes;
    if (field == ".") return bytes;
    for (std::size_t i = 0; i + 1 < field.size(); i += 2)
        bytes += static_cast<char>(std::strtoul(field.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::string hex(const std::string& bytes) {
    if (bytes.empty()) return ".";
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

#ifdef _WIN32
std::wstring wide(const std::string& text) {
    if (text.empty()) return {};
    std::wstring result(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           result.data(), static_cast<int>(result.size()));
    result.resize(static_cast<std::size_t>(length));
    return result;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    std::string result(text.size() * 4, '\0');
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           result.data(), static_cast<int>(result.size()), nullptr, nullptr);
    result.resize(static_cast<std::size_t>(length));
    return result;
}

std::string readString(const std::string& section, const std::string& key, const std::string& fallback,
                       std::size_t size, const std::string& file) {
    std::vector<wchar_t> buffer(size + 1, L'\0');
    const DWORD length =
        GetPrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), wide(fallback).c_str(),
                                 buffer.data(), static_cast<DWORD>(size), wide(file).c_str());
    return narrow(std::wstring(buffer.data(), length));
}

std::int32_t readInt(const std::string& section, const std::string& key, std::int32_t fallback,
                     const std::string& file) {
    return static_cast<std::int32_t>(
        GetPrivateProfileIntW(wide(section).c_str(), wide(key).c_str(), fallback, wide(file).c_str()));
}

bool writeString(const std::string& section, const std::string& key, const std::string& value,
                 const std::string& file) {
    return WritePrivateProfileStringW(wide(section).c_str(), wide(key).c_str(), wide(value).c_str(),
                                      wide(file).c_str()) != 0;
}
#else
std::string readString(const std::string& section, const std::string& key, const std::string& fallback,
                       std::size_t size, const std::string& file) {
    return platform::readProfileString(section, key, fallback, size, file);
}

std::int32_t readInt(const std::string& section, const std::string& key, std::int32_t fallback,
                     const std::string& file) {
    return platform::readProfileInt(section, key, fallback, file);
}

bool writeString(const std::string& section, const std::string& key, const std::string& value,
                 const std::string& file) {
    return platform::writeProfileString(section, key, value, file);
}
#endif

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: profile_probe FOLDER < commands\n");
        return 2;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    const std::string folder = argv[1];
    std::string line;
    std::string answers;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream fields(line);
        std::string command, a, b, c, d, e;
        fields >> command;
        if (command == "S") {
            fields >> a >> b >> c >> d >> e;
            answers += hex(readString(unhex(c), unhex(d), unhex(e), std::stoul(a), folder + unhex(b)));
        } else if (command == "I") {
            fields >> a >> b >> c >> d;
            answers += std::to_string(readInt(unhex(b), unhex(c), std::stoi(d), folder + unhex(a)));
        } else if (command == "W") {
            fields >> a >> b >> c >> d;
            answers += writeString(unhex(b), unhex(c), unhex(d), folder + unhex(a)) ? "1" : "0";
        } else {
            answers += "?";
        }
        answers += '\n';
        if (answers.size() > (1u << 16)) {
            std::fwrite(answers.data(), 1, answers.size(), stdout);
            answers.clear();
        }
    }
    std::fwrite(answers.data(), 1, answers.size(), stdout);
    std::fflush(stdout);
    return 0;
}
