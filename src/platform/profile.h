// Profile (INI) files, read and written the way the Windows private-profile functions do it
// (GetPrivateProfileStringW, GetPrivateProfileIntW, WritePrivateProfileStringW), because the game
// client reads the same files through those functions. On Linux the client runs under Wine, so
// Wine's functions are what it reads; tests/wine compares this layer with them on generated files.
//
// The rules, as the client's reader applies them:
// - Lines end with CR LF, LF or a lone CR. Blanks are space, tab, vertical tab, form feed and ^Z;
//   they are ignored around lines, names and values. A UTF-8 byte-order mark at the start is no text.
// - A line is a section header when its first non-blank character is '[' and it holds a ']'; the
//   name runs to the last ']', without blanks ("[ S ]" is S). Every other non-blank line is a key,
//   also one starting with ';' (there are no comments: ";k=v" is the key ";k") and one without ']'
//   ("[S" is a key): its name is the text before the first '=', its value the text after it. A line
//   without '=' is a key without a value, which reads as absent and hides a later key of its name.
// - Lines before the first header are the section with the empty name. A header "[]" starts a
//   section that no look-up finds.
// - Section and key names are compared without regard to ASCII case. The names passed in lose
//   their surrounding blanks before they are compared or written.
// - Duplicates: only the first section of a name counts, for reading and for writing; inside it,
//   the first key of a name.
// - Reading a value: when it has at least two characters and begins and ends with the same quote
//   (' or "), one pair is removed. The result is cut to `bufferSize` - 1 characters (UTF-16 code
//   units, as the wide buffer counts them; a character is never split). When a quoted value's
//   text after the opening quote is exactly `bufferSize` units long, one more character goes
//   ("abcd" in quotes reads "abc" with a buffer of 5). A missing file, section, key or value gives
//   the default text without its trailing spaces, its quotes and cut the same way.
// - Reading an integer (GetPrivateProfileIntW): the text is read with a buffer of 30 characters; an
//   empty one gives the default. Leading blanks and control characters are skipped, one optional
//   sign, then "0x", "0o" or "0b" (lower case) choose base 16, 8 or 2, otherwise decimal; digits up
//   to the first other character, taken modulo 2^32 ("4294967297" reads 1, "42A9" reads 42).
// - Writing a value stores it as given. An existing key keeps its line up to and including its '='
//   (a key without a value gets one) and gets the new value; the line's ending stays. A new key goes
//   after the last non-blank line of its section (of the lines before the first header for the
//   empty section name); a new section goes at the end of the file, without a blank line before it.
//   New lines take the file's line ending (that of its first line), CR LF in a new file. A write
//   that changes nothing leaves the file untouched.
// - Every other byte of the file is kept as it was: comments, blank lines, unknown keys, and the
//   spelling of names. So a write changes what the client reads of the written key and nothing else.
// - A missing file is created; a missing folder is not (the write fails). A file that this
//   process may not write is not replaced (the write fails), as Windows refuses a read-only file.
//
// Where Windows itself is reported to differ from Wine (what the client reads on Linux), this
// layer follows Wine: integers with a "0x", "0o" or "0b" prefix (Windows reads decimal only, "0x10" is 0
// there); keys before the first header (Windows does not find them by the empty section name); the
// UTF-8 byte-order mark (Windows takes it as text of the first line).
//
// [X] the rules above, on files of bytes (ASCII or UTF-8); paths are UTF-8
// [X] a write replaces the file atomically (a new file renamed over it, same permission bits), so
//     a crash mid-write never leaves half a file; calls are serialised within the process
// [X] a write whose line would read back as other keys is refused (false, nothing written): a line
//     break in a name or value, '=' in a key name, a key name that would be a header, a key
//     starting with a byte-order mark (UTF-8, or UTF-16's bytes) written at the start of a file.
//     Wine writes these and so changes other keys; the game never passes such names.
// [ ] Wine rewrites the whole file on every write (CR LF, blanks dropped, "[]" headers lost so
//     their keys join the section before): we keep every other byte instead, which reads the same
// [ ] bytes above 127: Wine reads files without a byte-order mark in the ANSI code page (1252 for
//     English), this layer as UTF-8; names compare case-blind for ASCII only. The game's own
//     settings are ASCII digits and names
// [X] UTF-16 files (LE or BE) that start with their byte-order mark, read and written in their own
//     form (new lines too); a write that could not keep the rest of such a file byte for byte (an
//     unpaired surrogate, an odd length, a value that is no valid UTF-8) fails and writes nothing
// [ ] a buffer that ends inside a surrogate pair: Windows and Wine give its first half, this layer
//     stops before the character (UTF-8 has no half of one)
// [ ] zero bytes inside a file without a byte-order mark (Wine's reading of them is erratic)
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
