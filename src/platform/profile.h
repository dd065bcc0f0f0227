// Profile (INI) files, read and written the way the Windows private-profile functions do it
// (GetPrivateProfileStringW, GetPrivateProfileIntW, WritePrivateProfileStringW), because the game
// client reads the same files through those functions.
//
// The rules, as observed on Windows (Wine's profile tests, which run on real Windows, and public
// reverse-engineering tests of these calls):
// - A line is a section header when its first non-blank character is '['; the name runs to the
//   first ']' or, without one, to the end of the line. Blanks (space, tab, vertical tab, form feed)
//   around the line and inside the brackets are ignored.
// - Any other line with an '=' is a key: the name is the text before the first '=', the value the
//   text after it, both without surrounding blanks. A line whose first non-blank character is ';'
//   is a comment and never a key; a line without '=' is not a key either.
// - Lines end with CR LF, LF or a lone CR (all three are read). Lines before the first header
//   belong to no section and are never read.
// - Section and key names are compared without regard to ASCII case. The names passed in lose
//   their surrounding spaces (only spaces) before they are compared or written.
// - Duplicates: only the first section of a name counts, for reading and for writing; inside it,
//   the first key of a name.
// - Reading a value: when it has at least two characters and begins and ends with the same quote
//   (' or "), that one pair is removed. The result is cut to `bufferSize` - 1 characters (UTF-16
//   code units, as the wide buffer counts them; a character is never split). A missing file,
//   section or key gives the default text without its trailing spaces, cut the same way.
// - Reading an integer (GetPrivateProfileIntW): a missing or empty value gives the default.
//   Otherwise the text is read as decimal only ("0x10" reads 0): leading blanks skipped, one
//   optional sign, digits up to the first other character, taken modulo 2^32 ("4294967297" reads
//   1, "-1" reads -1, "42A9" reads 42, "B42" reads 0).
// - Writing a value stores it as given (blanks included). An existing key keeps its line up to and
//   including its '=' (its spelling and spacing) and gets the new value; the line's ending stays.
//   A new key goes after the last non-blank line of its section; a new section goes at the end of
//   the file, without a blank line before it. New lines take the file's line ending (that of its
//   first line), CR LF in a new file. A write that changes nothing leaves the file untouched.
// - Every other byte of the file is kept as it was: comments, blank lines, unknown keys, lines
//   before the first section, and the spelling of names.
// - A missing file is created; a missing folder is not (the write fails). A file that this
//   process may not write is not replaced (the write fails), as Windows refuses a read-only file.
//
// [X] the rules above, on files of bytes (ASCII or UTF-8); paths are UTF-8
// [X] a write replaces the file atomically (a new file renamed over it, same permission bits), so
//     a crash mid-write never leaves half a file; calls are serialised within the process
// [ ] UTF-16 files (with a byte-order mark): not read; the game's files are plain text
// [ ] a UTF-8 byte-order mark is not skipped, as Windows does not skip it either
// [ ] the registry mapping of some Windows system files (IniFileMapping): not relevant here
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// GetPrivateProfileStringW with a buffer of `bufferSize` wide characters (at least 1).
std::string readProfileString(const std::string& section, const std::string& key,
                              const std::string& defaultText, std::size_t bufferSize,
                              const std::string& file);
// GetPrivateProfileIntW; the unsigned result seen as a signed 32-bit number.
std::int32_t readProfileInt(const std::string& section, const std::string& key, std::int32_t defaultValue,
                            const std::string& file);
// WritePrivateProfileStringW with a value (never deletes); false when the file was not written.
bool writeProfileString(const std::string& section, const std::string& key, const std::string& value,
                        const std::string& file);

} // namespace platform
