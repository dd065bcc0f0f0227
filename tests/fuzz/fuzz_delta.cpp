// The delta decoder and the delta manifest.
//
// Input: a mode byte, then for the model (even mode) a split point and the old and new files, for
// the raw decoder (odd mode) an announced size and a delta against a fixed base, read by the
// decoder in pieces of the sizes the input chooses.
//
// Checked: a delta librsync makes from the old file to the new one rebuilds the new file exactly,
// and is refused when the manifest announces one byte less; any delta at all never gives more
// bytes than announced, and when accepted gives exactly that many; a manifest that parses writes
// back to the same text.
#include <librsync.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "update/delta_format.h"

namespace {

struct JobFree {
    void operator()(rs_job_t* job) const { rs_job_free(job); }
};

// Runs a librsync job over `input` in one go and gives what it wrote.
std::string runJob(rs_job_t* started, std::string_view input) {
    const std::unique_ptr<rs_job_t, JobFree> job(started);
    std::string output;
    std::string buffer(64 * 1024, '\0');
    std::string copy(input);
    rs_buffers_t buffers{};
    buffers.next_in = copy.data();
    buffers.avail_in = copy.size();
    buffers.eof_in = 1;
    for (;;) {
        buffers.next_out = buffer.data();
        buffers.avail_out = buffer.size();
        const rs_result result = rs_job_iter(job.get(), &buffers);
        output.append(buffer.data(), buffer.size() - buffers.avail_out);
        if (result == RS_DONE) return output;
        fuzz::require(result == RS_BLOCKED, "librsync's own jobs finish");
    }
}

std::string makeDelta(std::string_view oldFile, std::string_view newFile, std::size_t blockLength) {
    const std::string signature = runJob(rs_sig_begin(blockLength, 0, RS_RK_BLAKE2_SIG_MAGIC), oldFile);
    rs_signature_t* sums = nullptr;
    runJob(rs_loadsig_begin(&sums), signature);
    const std::unique_ptr<rs_signature_t, void (*)(rs_signature_t*)> owned(sums, rs_free_sumset);
    fuzz::require(rs_build_hash_table(sums) == RS_DONE, "the signature loads");
    return runJob(rs_delta_begin(sums), newFile);
}

struct Applied {
    bool accepted = false;
    std::string output;
};

// Reads the delta in pieces whose sizes come from `pieces` (cycled), as a zip entry may deliver.
Applied apply(std::string_view delta, std::string_view base, std::uint64_t announced,
              std::string_view pieces) {
    Applied applied;
    std::size_t at = 0;
    std::size_t turn = 0;
    applied.accepted = applyDelta(
        [&](char* data, std::size_t size) -> std::optional<std::size_t> {
            std::size_t want =
                pieces.empty() ? size : 1 + static_cast<unsigned char>(pieces[turn++ % pieces.size()]);
            want = std::min({want, size, delta.size() - at});
            std::copy_n(delta.data() + at, want, data);
            at += want;
            return want;
        },
        [&](std::uint64_t offset, char* data, std::size_t size) -> std::optional<std::size_t> {
            if (offset >= base.size()) return 0;
            const std::size_t got = std::min<std::uint64_t>(size, base.size() - offset);
            std::copy_n(base.data() + offset, got, data);
            return got;
        },
        [&](const char* data, std::size_t size) {
            applied.output.append(data, size);
            fuzz::require(applied.output.size() <= announced, "never more bytes than announced");
            return true;
        },
        announced);
    return applied;
}

void checkManifest(std::string_view text) {
    const auto files = parseDeltaManifest(text);
    if (files) fuzz::require(deltaManifestText(*files) == text, "a parsed manifest writes back the same");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(bytes), size);
    if (input.size() < 3) return 0;
    checkManifest(input.substr(1));
    const auto mode = static_cast<unsigned char>(input[0]);
    const std::size_t split =
        static_cast<unsigned char>(input[1]) << 8 | static_cast<unsigned char>(input[2]);
    const std::string_view rest = input.substr(3);
    if (mode % 2 == 0) {
        const std::string_view oldFile = rest.substr(0, std::min(split, rest.size()));
        const std::string_view newFile = rest.substr(oldFile.size());
        const std::size_t blockLength = 16u << (mode / 2 % 6);
        const std::string delta = makeDelta(oldFile, newFile, blockLength);
        const Applied whole = apply(delta, oldFile, newFile.size(), rest.substr(0, 3));
        fuzz::require(whole.accepted && whole.output == newFile, "a delta rebuilds its new file");
        if (!newFile.empty())
            fuzz::require(!apply(delta, oldFile, newFile.size() - 1, {}).accepted,
                          "a shorter announcement fails");
    } else {
        static const std::string base = [] {
            std::string text;
            for (int i = 0; text.size() < 4096; ++i) text += "base block " + std::to_string(i) + "\n";
            return text;
        }();
        const Applied applied = apply(rest, base, split, input.substr(0, 2));
        if (applied.accepted)
            fuzz::require(applied.output.size() == split, "an accepted delta gives the size");
    }
    return 0;
}
