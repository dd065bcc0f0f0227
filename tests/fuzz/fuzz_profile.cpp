// Profile (INI) files written by other programs: any bytes as the file, then one write of a
// section, key and value, and reads before and after it.
//
// Checked: a written value reads back (without its surrounding blanks and one pair of quotes),
// every other key reads as before (comments, bare names and lines before the first header are keys
// too), untouched lines are kept, and the integer reader agrees with the text reader for plain
// decimal values. A file that starts with the UTF-16LE byte-order mark is judged by its text (iconv's
// reading of it): the write goes through and the same holds, or, where the file or the names do
// not convert whole, the write fails and the file keeps every byte. tests/wine checks the same
// rules against Wine's own functions.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <optional>
#include <vector>

#include "../support/test_processes.h"
#include "fuzz_support.h"
#include "platform/profile.h"

namespace {

namespace fs = std::filesystem;

std::string folder;
constexpr std::size_t wideBuffer = 4096;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a' || c == '\r' || c == '\n';
}

std::string trimmed(std::string_view text, bool (*blank)(char)) {
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Lines split at LF, CR LF and lone CR, without their endings.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' || text[i] == '\r') {
            result.push_back(line);
            line.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += text[i];
        }
    }
    if (!line.empty()) result.push_back(line);
    return result;
}

struct Probe {
    std::string section;
    std::string key;
};

// Section and key names that the file holds, as the client's reader names them: every non-blank
// line is a header (a '[' and a last ']') or a key, and lines before the first header are the
// section with the empty name.
std::vector<Probe> probesOf(const std::string& text) {
    std::vector<Probe> probes;
    std::string section;
    for (const auto& raw : lines(text)) {
        const std::string line = trimmed(raw, isBlank);
        if (line.empty() || line.find('\0') != std::string::npos) continue;
        const auto close = line.rfind(']');
        if (line.front() == '[' && close != std::string::npos && close > 0) {
            section = trimmed(line.substr(1, close - 1), isBlank);
            continue;
        }
        const std::string key = trimmed(line.substr(0, line.find('=')), isBlank);
        if (probes.size() < 16) probes.push_back({section, key});
    }
    return probes;
}

// A name the writer takes: no line breaks or zero bytes, no '=' in a key, no key that would make
// its line a header or start with a byte-order mark, no surrounding blanks.
std::string usableName(std::string_view text, bool isKey) {
    std::string name;
    for (char c : text)
        if (c != '\r' && c != '\n' && c != '\0' && !(isKey && (c == '=' || c == ']'))) name += c;
    name = trimmed(name, isBlank);
    // Written at the start of a file, a key with a leading byte-order mark (UTF-8, or UTF-16 which
    // would make the file read as UTF-16) would read as another; marks can hide behind each other.
    for (bool stripped = isKey; stripped;) {
        const std::size_t mark = name.starts_with("\xEF\xBB\xBF")                               ? 3
                                 : name.starts_with("\xFF\xFE") || name.starts_with("\xFE\xFF") ? 2
                                                                                                : 0;
        stripped = mark != 0;
        name = trimmed(name.substr(mark), isBlank);
    }
    return name;
}

std::string usableValue(std::string_view text, const std::string& key) {
    std::string value;
    for (char c : text)
        if (c != '\r' && c != '\n' && c != '\0' && !(c == ']' && key.starts_with('['))) value += c;
    return value;
}

// What a reader gives for a stored value.
std::string readBack(const std::string& value) {
    std::string text = trimmed(value, isBlank);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    return text;
}

// `text` converted by iconv; nothing when it does not convert whole (an unpaired surrogate, an odd
// last byte, bytes that are no UTF-8).
std::optional<std::string> converted(std::string_view text, const char* to, const char* from) {
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    std::string out(4 * text.size() + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* at = out.data();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &at, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

constexpr std::string_view utf16LeMark = "\xFF\xFE";
constexpr std::string_view utf16BeMark = "\xFE\xFF";

// The UTF-16 form of a file's bytes (from its byte-order mark), or null for a file of bytes.
const char* utf16Form(const std::string& bytes) {
    return bytes.starts_with(utf16LeMark)   ? "UTF-16LE"
           : bytes.starts_with(utf16BeMark) ? "UTF-16BE"
                                            : nullptr;
}

// The text of a file's bytes as the profile functions read it.
std::optional<std::string> textOf(const std::string& bytes) {
    if (!utf16Form(bytes)) return bytes;
    return converted(std::string_view(bytes).substr(utf16LeMark.size()), "UTF-8", utf16Form(bytes));
}

bool sameName(const std::string& a, const std::string& b) {
    return lower(trimmed(a, isBlank)) == lower(trimmed(b, isBlank));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::quietDiagnostics();
    folder = fuzz::requireScratchInstall() + "profile/";
    fs::create_directories(folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::string section = usableName(input.piece(40), false);
    const std::string key = usableName(input.piece(40), true);
    const std::string value = usableValue(input.piece(60), key);
    const std::size_t bufferSize = 1 + input.byte() % 48;
    const std::string original(input.rest());

    const std::string path = folder + "test.ini";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(original.data(), static_cast<std::streamsize>(original.size()));
    }

    // Reads of any size never overrun and respect the buffer.
    const std::string small = platform::readProfileString(section, key, "default", bufferSize, path);
    fuzz::require(small.size() <= 4 * (bufferSize - 1), "a read fits its buffer");

    const char* const form = utf16Form(original);
    const bool wide = form != nullptr;
    const std::optional<std::string> originalText = textOf(original);
    bool faithful = originalText.has_value();
    for (const std::string* name : {&section, &key, &value})
        faithful = faithful && (!wide || converted(*name, form, "UTF-8"));
    if (wide && !faithful) {
        // A file the layer could not write back as it is may refuse the write, and then keeps
        // every byte; one it takes is judged by its text below.
        if (!platform::writeProfileString(section, key, value, path)) {
            fuzz::require(dltest::readText(path) == original, "a refused write leaves every byte");
            return 0;
        }
        fuzz::require(originalText.has_value(), "a file that cannot be written back is never written");
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file.write(original.data(), static_cast<std::streamsize>(original.size()));
        }
    }

    const std::vector<Probe> probes = probesOf(*originalText);
    std::vector<std::string> valuesBefore;
    for (const auto& probe : probes)
        valuesBefore.push_back(platform::readProfileString(probe.section, probe.key, "", wideBuffer, path));

    const bool written = platform::writeProfileString(section, key, value, path);
    fuzz::require(written, "a writable file takes the write");
    const std::string afterBytes = dltest::readText(path);
    fuzz::require(!wide || afterBytes.starts_with(original.substr(0, 2)), "the file keeps its form");
    const std::optional<std::string> afterText = textOf(afterBytes);
    fuzz::require(afterText.has_value(), "a written file reads whole");
    const std::string& after = *afterText;

    fuzz::require(platform::readProfileString(section, key, "", wideBuffer, path) == readBack(value),
                  "a written value reads back");
    for (std::size_t i = 0; i < probes.size(); ++i) {
        if (sameName(probes[i].section, section) && sameName(probes[i].key, key)) continue;
        fuzz::require(platform::readProfileString(probes[i].section, probes[i].key, "", wideBuffer, path) ==
                          valuesBefore[i],
                      "every other key reads as before");
    }

    // Untouched lines are kept: a write changes one line in place or inserts lines in one place,
    // so the old and new files share everything but at most one old line at both ends.
    const auto oldLines = lines(*originalText);
    const auto newLines = lines(after);
    std::size_t prefix = 0;
    while (prefix < oldLines.size() && prefix < newLines.size() && oldLines[prefix] == newLines[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < oldLines.size() - prefix && suffix < newLines.size() - prefix &&
           oldLines[oldLines.size() - 1 - suffix] == newLines[newLines.size() - 1 - suffix])
        ++suffix;
    fuzz::require(oldLines.size() - prefix - suffix <= 1, "untouched lines are kept");

    // A second identical write changes nothing.
    fuzz::require(platform::writeProfileString(section, key, value, path), "a repeated write succeeds");
    fuzz::require(dltest::readText(path) == afterBytes,
                  "a write that changes nothing leaves the file as it was");

    // The integer reader agrees with the text for plain decimal values.
    const std::string text = readBack(value);
    bool plain = !text.empty() && text.size() <= 9;
    for (std::size_t i = 0; i < text.size(); ++i)
        plain =
            plain && ((text[i] >= '0' && text[i] <= '9') || (i == 0 && text[i] == '-' && text.size() > 1));
    if (plain)
        fuzz::require(platform::readProfileInt(section, key, 7, path) == std::stoi(text),
                      "integers read back");
    if (text.empty())
        fuzz::require(platform::readProfileInt(section, key, 7, path) == 7,
                      "an empty value gives the default");
    return 0;
}
