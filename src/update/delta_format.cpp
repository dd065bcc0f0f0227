// The delta manifest and the delta decoder (librsync's patch job, driven with our own buffers).
//
// [X] fixed memory: librsync asks for base bytes by offset into our output buffer and copies
//     literal bytes straight from input to output, so nothing grows with a file's size
// [X] the result is cut off at the size the manifest announces; copies before the base's start
//     or past its end, a delta that ends early and one that stops making progress all fail
// [ ] the delta's own checksum command is not checked: the result's SHA-256 is, by the caller
#include "update/delta_format.h"

#include <librsync.h>

#include <memory>
#include <mutex>
#include <set>

namespace {

constexpr std::size_t inputBufferBytes = 256 * 1024;
constexpr std::size_t outputBufferBytes = 1024 * 1024;
constexpr std::size_t sha256HexDigits = 64;
constexpr char fieldSeparator = '\t';

struct JobFree {
    void operator()(rs_job_t* job) const { rs_job_free(job); }
};

bool isSha256Hex(std::string_view text) {
    return text.size() == sha256HexDigits &&
           text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::optional<std::uint64_t> sizeField(std::string_view text) {
    // One spelling per number, as deltaManifestText writes it: no sign, no leading zero.
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string_view::npos ||
        (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) value = value * 10 + static_cast<std::uint64_t>(c - '0');
    return value;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const auto end = line.find(fieldSeparator, start);
        fields.push_back(
            line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return fields;
        start = end + 1;
    }
}

struct BaseSource {
    const ReadBase* read;
};

// librsync's copy command: `*len` bytes of the base from `pos`, into the buffer it offers.
rs_result copyFromBase(void* opaque, rs_long_t pos, size_t* len, void** buf) {
    const auto* source = static_cast<BaseSource*>(opaque);
    if (pos < 0 || *len == 0) return RS_CORRUPT;
    const auto got = (*source->read)(static_cast<std::uint64_t>(pos), static_cast<char*>(*buf), *len);
    // Nothing left to copy there: the delta points past the base's end.
    if (!got || *got == 0) return RS_CORRUPT;
    *len = *got;
    return RS_DONE;
}

} // namespace

std::string deltaManifestText(const std::vector<DeltaFile>& files) {
    std::string text = std::string(deltaManifestFormat) + "\n";
    for (const auto& file : files)
        text += file.entry + fieldSeparator + std::to_string(file.baseSize) + fieldSeparator +
                file.baseSha256 + fieldSeparator + std::to_string(file.resultSize) + fieldSeparator +
                file.resultSha256 + fieldSeparator + file.path + "\n";
    return text;
}

std::optional<std::vector<DeltaFile>> parseDeltaManifest(std::string_view text) {
    const std::string_view head = std::string_view(deltaManifestFormat);
    if (!text.starts_with(head) || text.size() == head.size() || text[head.size()] != '\n')
        return std::nullopt;
    text.remove_prefix(head.size() + 1);
    std::vector<DeltaFile> files;
    std::set<std::string_view> entries;
    std::set<std::string_view> paths;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) return std::nullopt;
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const auto fields = splitFields(line);
        if (fields.size() != 6 || !fields[0].starts_with(deltaFolder) ||
            fields[0].size() <= std::string_view(deltaFolder).size() || fields[0] == deltaManifestEntry ||
            fields[5].empty() || fields[5].find('\r') != std::string_view::npos)
            return std::nullopt;
        const auto baseSize = sizeField(fields[1]);
        const auto resultSize = sizeField(fields[3]);
        if (!baseSize || !resultSize || !isSha256Hex(fields[2]) || !isSha256Hex(fields[4]))
            return std::nullopt;
        if (!entries.insert(fields[0]).second || !paths.insert(fields[5]).second) return std::nullopt;
        files.push_back({std::string(fields[0]), *baseSize, std::string(fields[2]), *resultSize,
                         std::string(fields[4]), std::string(fields[5])});
    }
    return files;
}

bool applyDelta(const ReadDelta& read, const ReadBase& base, const WriteResult& write,
                std::uint64_t resultSize) {
    // librsync's own lines would say again what the caller's diagnostic says.
    static std::once_flag quiet;
    std::call_once(quiet, [] { rs_trace_set_level(RS_LOG_EMERG); });

    BaseSource source{&base};
    const std::unique_ptr<rs_job_t, JobFree> job(rs_patch_begin(copyFromBase, &source));
    if (!job) return false;
    std::vector<char> input(inputBufferBytes);
    std::vector<char> output(outputBufferBytes);
    rs_buffers_t buffers{};
    buffers.next_in = input.data();
    std::uint64_t written = 0;
    for (;;) {
        if (buffers.avail_in == 0 && !buffers.eof_in) {
            const auto got = read(input.data(), input.size());
            if (!got) return false;
            buffers.next_in = input.data();
            buffers.avail_in = *got;
            buffers.eof_in = *got == 0 ? 1 : 0;
        }
        const std::size_t offered = buffers.avail_in;
        buffers.next_out = output.data();
        buffers.avail_out = output.size();
        const rs_result result = rs_job_iter(job.get(), &buffers);
        const std::size_t produced = output.size() - buffers.avail_out;
        if (produced > resultSize - written) return false;
        if (produced > 0 && !write(output.data(), produced)) return false;
        written += produced;
        if (result == RS_DONE) return written == resultSize;
        if (result != RS_BLOCKED) return false;
        // Blocked with input at hand and nothing consumed or made, or at the end of the input:
        // the delta is cut short or loops.
        const bool moved = produced > 0 || buffers.avail_in != offered;
        if (!moved && (buffers.avail_in > 0 || buffers.eof_in)) return false;
    }
}
