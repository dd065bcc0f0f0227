// Profile (INI) files on POSIX: the Windows private-profile rules of platform/profile.h over plain
// files of bytes.
//
// [X] GetPrivateProfileStringW, GetPrivateProfileIntW, WritePrivateProfileStringW as the header
//     lists them, checked against Wine's own functions by tests/wine: every non-blank line a header
//     or a key, case-blind names, blanks ignored, first of duplicates, quotes, the buffer cut
// [X] untouched lines and their endings kept byte for byte; new lines in the file's own ending
// [X] a missing file is created, a missing folder is not
// [X] writes are atomic (rename over the file, profile_file.cpp) and serialised within the
//     process; the file keeps its permission bits, owner, and hidden and system attributes
// [X] UTF-16 files with their byte-order mark: read, and written back in the same form (new lines
//     too); one that would not come back byte for byte is never written (profile_utf16.cpp)
// [ ] other processes writing the same file at the same moment: Windows does not lock either
// [ ] the registry mapping of Windows' own files
#include "platform/profile.h"

#include "platform/files.h"
#include "profile_file.h"
#include "profile_utf16.h"

#include <mutex>
#include <optional>
#include <vector>

namespace platform {

namespace {

std::mutex profileMutex;

// What the profile functions skip around names and values: ^Z (DOS end of file) counts too.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a' || c == '\r' || c == '\n';
}

std::string trimBlanks(const std::string& name) {
    std::size_t begin = 0;
    std::size_t end = name.size();
    while (begin < end && isBlank(name[begin])) ++begin;
    while (end > begin && isBlank(name[end - 1])) --end;
    return name.substr(begin, end - begin);
}

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";

enum class LineKind { blank, header, key };

struct Line {
    std::size_t begin = 0;      // first byte of the line
    std::size_t contentEnd = 0; // first byte of its line ending
    std::size_t end = 0;        // first byte after its line ending
    LineKind kind = LineKind::blank;
    std::size_t nameBegin = 0, nameEnd = 0;   // section or key name, without blanks
    std::optional<std::size_t> equals;        // the key's '=', if it has one
    std::size_t valueBegin = 0, valueEnd = 0; // the key's value, without blanks
};

// Every non-blank line is a header or a key: comments, lines without '=' and '[' without ']' are
// keys too, which is how the client's reader sees them.
void classify(const std::string& text, Line& line) {
    std::size_t begin = line.begin;
    std::size_t end = line.contentEnd;
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    if (begin == end) return;
    if (text[begin] == '[') {
        std::size_t close = end;
        while (close > begin + 1 && text[close - 1] != ']') --close;
        if (close > begin + 1) {
            line.kind = LineKind::header;
            line.nameBegin = begin + 1;
            line.nameEnd = close - 1; // the name runs to the last ']'
            while (line.nameBegin < line.nameEnd && isBlank(text[line.nameBegin])) ++line.nameBegin;
            while (line.nameEnd > line.nameBegin && isBlank(text[line.nameEnd - 1])) --line.nameEnd;
            return;
        }
    }
    line.kind = LineKind::key;
    line.nameBegin = begin;
    line.nameEnd = end;
    std::size_t equals = begin;
    while (equals < end && text[equals] != '=') ++equals;
    if (equals == end) return;
    line.equals = equals;
    line.nameEnd = equals;
    while (line.nameEnd > line.nameBegin && isBlank(text[line.nameEnd - 1])) --line.nameEnd;
    line.valueBegin = equals + 1;
    line.valueEnd = end;
    while (line.valueBegin < line.valueEnd && isBlank(text[line.valueBegin])) ++line.valueBegin;
}

std::size_t markLength(const std::string& text) {
    return text.starts_with(utf8Mark) ? utf8Mark.size() : 0;
}

std::vector<Line> splitLines(const std::string& text) {
    std::vector<Line> lines;
    std::size_t position = markLength(text);
    while (position < text.size()) {
        Line line;
        line.begin = position;
        while (position < text.size() && text[position] != '\r' && text[position] != '\n') ++position;
        line.contentEnd = position;
        if (position < text.size()) {
            const bool crlf =
                text[position] == '\r' && position + 1 < text.size() && text[position + 1] == '\n';
            position += crlf ? 2 : 1;
        }
        line.end = position;
        classify(text, line);
        lines.push_back(line);
    }
    return lines;
}

// Where a key is, or where it would go. The lines before the first header are the section with
// the empty name, which is the first section of that name; a header "[]" starts a section that no
// name finds.
struct Location {
    bool sectionFound = false;
    std::optional<std::size_t> key;         // line of the first key of the name inside it
    std::optional<std::size_t> lastContent; // last non-blank line of that section
    std::size_t sectionStart = 0;           // where a key goes into a section with no lines
};

Location locate(const std::string& text, const std::vector<Line>& lines, const std::string& section,
                const std::string& key) {
    Location location;
    auto nameOf = [&text](const Line& line) {
        return std::string_view(text).substr(line.nameBegin, line.nameEnd - line.nameBegin);
    };
    std::size_t i = 0;
    if (section.empty()) {
        location.sectionFound = true;
        location.sectionStart = markLength(text);
    } else {
        for (; i < lines.size(); ++i)
            if (lines[i].kind == LineKind::header && equalsIgnoringAsciiCase(nameOf(lines[i]), section)) {
                location.sectionFound = true;
                location.lastContent = i;
                ++i;
                break;
            }
        if (!location.sectionFound) return location;
    }
    for (; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == LineKind::header) break;
        if (line.kind == LineKind::blank) continue;
        location.lastContent = i;
        if (!location.key && equalsIgnoringAsciiCase(nameOf(line), key)) location.key = i;
    }
    return location;
}

// The length in bytes of the UTF-8 character at `position`; a broken sequence counts byte by byte.
std::size_t characterLength(const std::string& text, std::size_t position) {
    const auto lead = static_cast<unsigned char>(text[position]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 1;
    for (std::size_t i = 1; i < length; ++i)
        if (position + i >= text.size() || (static_cast<unsigned char>(text[position + i]) & 0xC0) != 0x80)
            return 1;
    return length;
}

// The longest start of `text` that fits `units` UTF-16 code units without splitting a character.
std::string cutToUnits(const std::string& text, std::size_t units) {
    std::size_t position = 0;
    std::size_t used = 0;
    while (position < text.size()) {
        const std::size_t length = characterLength(text, position);
        const std::size_t needed = length == 4 ? 2 : 1;
        if (used + needed > units) break;
        used += needed;
        position += length;
    }
    return text.substr(0, position);
}

std::size_t unitsOf(const std::string& text) {
    std::size_t units = 0;
    for (std::size_t position = 0; position < text.size();) {
        const std::size_t length = characterLength(text, position);
        units += length == 4 ? 2 : 1;
        position += length;
    }
    return units;
}

// How the reader copies a value or a default into the caller's buffer: one pair of matching quotes
// comes off, but the closing quote is only known to be copied when the buffer holds the whole text
// after the opening one. When the buffer is exactly that long, the cut text loses one more
// character ("abcd" in quotes reads "abc" with a buffer of 5): the client sees that, so we do too.
std::string copyEntry(const std::string& value, std::size_t bufferSize) {
    if (bufferSize == 0) return {};
    const bool quoted =
        value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front();
    if (!quoted) return cutToUnits(value, bufferSize - 1);
    const std::string afterQuote = value.substr(1);
    std::string copied = cutToUnits(afterQuote, bufferSize - 1);
    if (bufferSize >= unitsOf(afterQuote) && !copied.empty())
        copied = cutToUnits(copied, unitsOf(copied) - 1);
    return copied;
}

std::optional<std::string> valueIn(const std::string& text, const std::string& section,
                                   const std::string& key) {
    const auto lines = splitLines(text);
    const Location location = locate(text, lines, section, key);
    if (!location.key) return std::nullopt;
    const Line& line = lines[*location.key];
    if (!line.equals) return std::nullopt; // a key without a value reads as absent
    return text.substr(line.valueBegin, line.valueEnd - line.valueBegin);
}

std::optional<std::string> findValue(const std::string& section, const std::string& key,
                                     const std::string& file) {
    std::string text;
    posix::FileForm form;
    if (posix::readWholeFile(file, text, form) != posix::ReadResult::read) return std::nullopt;
    return valueIn(text, section, key);
}

std::string lineEndingOf(const std::string& text, const std::vector<Line>& lines) {
    for (const Line& line : lines)
        if (line.end > line.contentEnd) return text.substr(line.contentEnd, line.end - line.contentEnd);
    return "\r\n";
}

std::string withValue(const std::string& text, const std::string& section, const std::string& key,
                      const std::string& value) {
    const auto lines = splitLines(text);
    const std::string ending = lineEndingOf(text, lines);
    const Location location = locate(text, lines, section, key);
    if (location.key) {
        const Line& line = lines[*location.key];
        if (!line.equals) // a key without a value gets one
            return text.substr(0, line.nameEnd) + "=" + value + text.substr(line.contentEnd);
        // The same value leaves the line as it is, spacing included.
        if (text.compare(line.valueBegin, line.valueEnd - line.valueBegin, value) == 0) return text;
        return text.substr(0, *line.equals + 1) + value + text.substr(line.contentEnd);
    }
    const std::string keyLine = key + "=" + value + ending;
    if (location.sectionFound) {
        if (!location.lastContent)
            return text.substr(0, location.sectionStart) + keyLine + text.substr(location.sectionStart);
        const Line& last = lines[*location.lastContent];
        const std::string lastEnding = last.end > last.contentEnd ? "" : ending;
        return text.substr(0, last.end) + lastEnding + keyLine + text.substr(last.end);
    }
    const bool open = text.size() > markLength(text) && text.back() != '\n' && text.back() != '\r';
    return text + (open ? ending : "") + "[" + section + "]" + ending + keyLine;
}

// A write whose line would read back as something else would change other keys: a line break, a
// key that a reader would cut at its '=', or a line "[key=value]" that a reader takes for a header.
bool writable(const std::string& section, const std::string& key, const std::string& value) {
    const auto has = [](const std::string& text, const char* characters) {
        return text.find_first_of(characters) != std::string::npos;
    };
    if (has(section, "\r\n") || has(key, "\r\n=") || has(value, "\r\n")) return false;
    return !(key.starts_with('[') && (has(key, "]") || has(value, "]")));
}

} // namespace

std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultText, std::size_t bufferSize,
                              const std::string& file) {
    if (bufferSize == 0) return {};
    std::optional<std::string> value;
    {
        std::lock_guard lock(profileMutex);
        value = findValue(trimBlanks(section), trimBlanks(key), file);
    }
    if (value) return copyEntry(*value, bufferSize);
    std::string fallback = defaultText;
    while (!fallback.empty() && fallback.back() == ' ') fallback.pop_back();
    return copyEntry(fallback, bufferSize);
}

std::int32_t readProfileInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                            const std::string& file) {
    // The Windows function reads into a buffer of 30 characters: digits past the 29th are not seen.
    const std::string text = readProfileString(section, key, "", 30, file);
    if (text.empty()) return defaultValue;
    std::size_t position = 0;
    while (position < text.size() && static_cast<unsigned char>(text[position]) <= ' ') ++position;
    bool negative = false;
    if (position < text.size() && (text[position] == '+' || text[position] == '-'))
        negative = text[position++] == '-';
    std::uint32_t base = 10;
    if (text.size() - position >= 2 && text[position] == '0') {
        const char prefix = text[position + 1];
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) position += 2;
    }
    std::uint32_t result = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        const std::uint32_t digit = c >= '0' && c <= '9'   ? static_cast<std::uint32_t>(c - '0')
                                    : c >= 'a' && c <= 'z' ? static_cast<std::uint32_t>(c - 'a' + 10)
                                    : c >= 'A' && c <= 'Z' ? static_cast<std::uint32_t>(c - 'A' + 10)
                                                           : 99;
        if (digit >= base) break;
        result = result * base + digit;
    }
    if (negative) result = 0u - result;
    return static_cast<std::int32_t>(result);
}

bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file) {
    const std::string sectionName = trimBlanks(section);
    const std::string keyName = trimBlanks(key);
    if (!writable(sectionName, keyName, value)) return false;

    std::lock_guard lock(profileMutex);
    std::string text;
    posix::FileForm form;
    const posix::ReadResult read = posix::readWholeFile(file, text, form);
    if (read == posix::ReadResult::failed) return false;
    // The rest of such a file could not be written back as it is: it keeps every byte.
    if (!form.exact) return false;
    const std::string updated = withValue(text, sectionName, keyName, value);
    // A key that begins with a byte-order mark, written at the very start of a file, reads back
    // without it: the write would not reach the key and would add a line on every call.
    if (valueIn(updated, sectionName, keyName) != trimBlanks(value)) return false;
    // Nor may a key make a file of bytes begin with a UTF-16 mark: it would be read as UTF-16.
    if (form.mark.empty() &&
        (updated.starts_with(posix::utf16LeMark) || updated.starts_with(posix::utf16BeMark)))
        return false;
    if (read == posix::ReadResult::missing) return posix::createFile(file, updated);
    if (updated == text) return true;
    return posix::replaceText(file, updated, form);
}

} // namespace platform
