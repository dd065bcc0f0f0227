// Build-time tool: writes a C++ source file that holds the bytes of one file as an array, either
// as they are or in Dear ImGui's compressed-font form (the stb compression stream that
// ImFontAtlas::AddFontFromMemoryCompressedTTF expands).
//
//   embed_file <input> <output.cpp> <symbol> [--compress]
//
// Defines `const unsigned char <symbol>[]` and `const std::size_t <symbol>Size`, declared in
// embedded_files.h. Dear ImGui's own converter (misc/fonts/binary_to_compressed_c.cpp) is not
// installed by Debian, so the compressed stream is produced here:
//
//   header   57 BC 00 00 | 00 00 00 00 | expanded length (32-bit big-endian) | window size
//   tokens   literal runs and back references (see emitLiteral / emitMatch)
//   trailer  05 FA | Adler-32 of the expanded bytes (big-endian)
//
// Every stream is expanded again here and compared with the input before it is written, so a
// fault in the compressor stops the build instead of shipping a broken font.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::size_t maxDistance = 0x80000; // the largest distance of the short match forms
constexpr std::size_t minMatch = 4;
constexpr int hashBits = 16;
constexpr int chainDepth = 512;

void put(Bytes& out, std::size_t value, int byteCount) {
    for (int shift = (byteCount - 1) * 8; shift >= 0; shift -= 8)
        out.push_back(static_cast<unsigned char>((value >> shift) & 0xFF));
}

std::uint32_t adler32(const Bytes& data) {
    std::uint32_t a = 1;
    std::uint32_t b = 0;
    for (unsigned char byte : data) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

void emitLiteral(Bytes& out, const unsigned char* data, std::size_t length) {
    while (length > 0) {
        const std::size_t run = length < 65536 ? length : 65536;
        if (run <= 32) {
            out.push_back(static_cast<unsigned char>(0x20 + run - 1));
        } else if (run <= 2048) {
            put(out, 0x0800 + run - 1, 2);
        } else {
            out.push_back(0x07);
            put(out, run - 1, 2);
        }
        out.insert(out.end(), data, data + run);
        data += run;
        length -= run;
    }
}

// Bytes a back reference of this distance and length costs; 0 when no form can carry it.
std::size_t matchCost(std::size_t distance, std::size_t length) {
    if (distance <= 256 && length <= 128) return 2;
    if (distance <= 16384 && length <= 256) return 3;
    if (distance <= maxDistance && length <= 256) return 4;
    if (distance <= maxDistance && length <= 65536) return 5;
    return 0;
}

void emitMatch(Bytes& out, std::size_t distance, std::size_t length) {
    const std::size_t d = distance - 1;
    const std::size_t n = length - 1;
    switch (matchCost(distance, length)) {
    case 2:
        out.push_back(static_cast<unsigned char>(0x80 + n));
        out.push_back(static_cast<unsigned char>(d));
        break;
    case 3:
        put(out, 0x4000 + d, 2);
        out.push_back(static_cast<unsigned char>(n));
        break;
    case 4:
        put(out, 0x180000 + d, 3);
        out.push_back(static_cast<unsigned char>(n));
        break;
    default:
        put(out, 0x100000 + d, 3);
        put(out, n, 2);
        break;
    }
}

std::uint32_t hashAt(const Bytes& in, std::size_t pos) {
    std::uint32_t v = static_cast<std::uint32_t>(in[pos]) | static_cast<std::uint32_t>(in[pos + 1]) << 8 |
                      static_cast<std::uint32_t>(in[pos + 2]) << 16 |
                      static_cast<std::uint32_t>(in[pos + 3]) << 24;
    return (v * 2654435761u) >> (32 - hashBits);
}

struct Match {
    std::size_t distance = 0;
    std::size_t length = 0;
};

Bytes compress(const Bytes& in) {
    Bytes out;
    put(out, 0x57BC0000, 4);
    put(out, 0, 4);
    put(out, in.size(), 4);
    put(out, 0x40000, 4);

    std::vector<std::int64_t> head(std::size_t{1} << hashBits, -1);
    std::vector<std::int64_t> previous(in.size(), -1);
    std::size_t inserted = 0; // positions below this are in the hash chains
    const auto insertUpTo = [&](std::size_t end) {
        for (; inserted < end; ++inserted) {
            if (inserted + minMatch > in.size()) continue;
            const std::uint32_t h = hashAt(in, inserted);
            previous[inserted] = head[h];
            head[h] = static_cast<std::int64_t>(inserted);
        }
    };
    // The longest earlier occurrence of the bytes at pos; only positions before pos are searched.
    const auto longest = [&](std::size_t pos) {
        Match best;
        insertUpTo(pos);
        if (pos + minMatch > in.size()) return best;
        const std::size_t limit = std::min<std::size_t>(in.size() - pos, 65536);
        std::int64_t candidate = head[hashAt(in, pos)];
        for (int depth = 0; candidate >= 0 && depth < chainDepth; ++depth) {
            const std::size_t distance = pos - static_cast<std::size_t>(candidate);
            if (distance > maxDistance) break;
            std::size_t length = 0;
            while (length < limit && in[static_cast<std::size_t>(candidate) + length] == in[pos + length])
                ++length;
            // Take a longer match only where it saves more than its costlier form spends.
            if (length >= minMatch && matchCost(distance, length) != 0 &&
                (best.length == 0 || length - matchCost(distance, length) >
                                         best.length - matchCost(best.distance, best.length))) {
                best = {distance, length};
            }
            candidate = previous[static_cast<std::size_t>(candidate)];
        }
        return best;
    };

    std::size_t literalStart = 0;
    std::size_t pos = 0;
    while (pos < in.size()) {
        Match match = longest(pos);
        if (match.length <= matchCost(match.distance, match.length) + 1) {
            ++pos;
            continue;
        }
        // One step of lazy matching: a clearly longer match at the next byte wins over this one.
        const Match next = longest(pos + 1);
        if (next.length > match.length + 1) {
            ++pos;
            match = next;
        }
        emitLiteral(out, in.data() + literalStart, pos - literalStart);
        emitMatch(out, match.distance, match.length);
        pos += match.length;
        literalStart = pos;
    }
    emitLiteral(out, in.data() + literalStart, pos - literalStart);
    out.push_back(0x05);
    out.push_back(0xFA);
    put(out, adler32(in), 4);
    return out;
}

// Expands a stream the way the atlas does; empty on any malformed token.
std::optional<Bytes> expand(const Bytes& in) {
    const auto get = [&](std::size_t at, int count) {
        std::size_t v = 0;
        for (int k = 0; k < count; ++k) v = (v << 8) | in.at(at + static_cast<std::size_t>(k));
        return v;
    };
    if (in.size() < 18 || get(0, 4) != 0x57BC0000 || get(4, 4) != 0) return std::nullopt;
    const std::size_t length = get(8, 4);
    Bytes out;
    std::size_t i = 16;
    const auto literal = [&](std::size_t from, std::size_t count) {
        if (from + count > in.size()) return false;
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(from),
                   in.begin() + static_cast<std::ptrdiff_t>(from + count));
        return true;
    };
    const auto match = [&](std::size_t distance, std::size_t count) {
        if (distance > out.size()) return false;
        for (std::size_t k = 0; k < count; ++k) out.push_back(out[out.size() - distance]);
        return true;
    };
    try {
        for (;;) {
            const unsigned char t = in.at(i);
            bool ok = true;
            if (t >= 0x80) {
                ok = match(get(i + 1, 1) + 1, t - 0x80u + 1), i += 2;
            } else if (t >= 0x40) {
                ok = match(get(i, 2) - 0x4000 + 1, get(i + 2, 1) + 1), i += 3;
            } else if (t >= 0x20) {
                const std::size_t n = t - 0x20u + 1;
                ok = literal(i + 1, n), i += 1 + n;
            } else if (t >= 0x18) {
                ok = match(get(i, 3) - 0x180000 + 1, get(i + 3, 1) + 1), i += 4;
            } else if (t >= 0x10) {
                ok = match(get(i, 3) - 0x100000 + 1, get(i + 3, 2) + 1), i += 5;
            } else if (t >= 0x08) {
                const std::size_t n = get(i, 2) - 0x0800 + 1;
                ok = literal(i + 2, n), i += 2 + n;
            } else if (t == 0x07) {
                const std::size_t n = get(i + 1, 2) + 1;
                ok = literal(i + 3, n), i += 3 + n;
            } else if (t == 0x05 && get(i + 1, 1) == 0xFA) {
                if (out.size() != length || get(i + 2, 4) != adler32(out)) return std::nullopt;
                return out;
            } else {
                return std::nullopt;
            }
            if (!ok || out.size() > length) return std::nullopt;
        }
    } catch (const std::out_of_range&) {
        return std::nullopt;
    }
}

bool writeSource(const std::string& path, const std::string& symbol, const std::string& origin,
                 const Bytes& data) {
    std::string text;
    text.reserve(data.size() * 5 + 512);
    text += "// Generated at build time by embed_file from " + origin + "; do not edit.\n";
    text += "#include \"embedded_files.h\"\n\n";
    text += "alignas(16) const unsigned char " + symbol + "[] = {";
    static constexpr std::array<char, 17> digits{"0123456789abcdef"};
    for (std::size_t k = 0; k < data.size(); ++k) {
        if (k % 24 == 0) text += "\n";
        text += "0x";
        text += digits[data[k] >> 4];
        text += digits[data[k] & 15];
        text += ',';
    }
    if (data.empty()) text += "0";
    text += "\n};\nconst std::size_t " + symbol + "Size = " + std::to_string(data.size()) + ";\n";
    // Written in one piece under another name, then renamed, so an interrupted build never
    // leaves half a file that looks up to date.
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && !(argc == 5 && std::strcmp(argv[4], "--compress") == 0)) {
        std::fprintf(stderr, "usage: embed_file <input> <output.cpp> <symbol> [--compress]\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "embed_file: cannot read %s\n", argv[1]);
        return 1;
    }
    Bytes data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (argc == 5) {
        Bytes packed = compress(data);
        const std::optional<Bytes> back = expand(packed);
        if (!back || *back != data) {
            std::fprintf(stderr, "embed_file: compressed %s does not expand to its bytes\n", argv[1]);
            return 1;
        }
        data = std::move(packed);
    }
    std::string origin = argv[1];
    origin = origin.substr(origin.find_last_of('/') + 1);
    if (!writeSource(argv[2], argv[3], origin, data)) {
        std::fprintf(stderr, "embed_file: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
