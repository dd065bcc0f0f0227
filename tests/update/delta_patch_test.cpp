#include "update/delta_patch.h"

#include <librsync.h>

#include <algorithm>
#include <memory>

#include "core/file_digest.h"
#include "platform/digest.h"
#include "platform/files.h"
#include "update/delta_format.h"
#include "update_test_support.h"

namespace {

using namespace updtest;

// Runs a librsync job over all of `input`.
std::string runJob(rs_job_t* started, std::string input) {
    const std::unique_ptr<rs_job_t, rs_result (*)(rs_job_t*)> job(started, rs_job_free);
    std::string output;
    std::string buffer(1 << 16, '\0');
    rs_buffers_t buffers{input.data(), input.size(), 1, nullptr, 0};
    for (rs_result result = RS_BLOCKED; result == RS_BLOCKED;) {
        buffers.next_out = buffer.data();
        buffers.avail_out = buffer.size();
        result = rs_job_iter(job.get(), &buffers);
        output.append(buffer.data(), buffer.size() - buffers.avail_out);
    }
    return output;
}

std::string makeDelta(const std::string& base, const std::string& result) {
    rs_signature_t* sums = nullptr;
    runJob(rs_loadsig_begin(&sums), runJob(rs_sig_begin(512, 0, RS_RK_BLAKE2_SIG_MAGIC), base));
    rs_build_hash_table(sums);
    std::string delta = runJob(rs_delta_begin(sums), result);
    rs_free_sumset(sums);
    return delta;
}

std::string sha256Of(const std::string& data) {
    platform::Sha256Hasher hasher;
    hasher.update(data.data(), data.size());
    return lowercaseHex(hasher.finish().value());
}

std::string pack(std::size_t size, unsigned seed) {
    std::string data(size, '\0');
    for (auto& c : data) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return data;
}

class DeltaPatchTest : public UpdateTest {};

// Each case: what the installed pack holds, what the manifest says of the result, and whether the
// delta patch applies; a patch that does not apply leaves the installation exactly as it was.
TEST_F(DeltaPatchTest, applies_only_to_its_base_and_leaves_nothing_half_done_otherwise) {
    const std::string base = pack(300'000, 1);
    const std::string result =
        base.substr(0, 100'000) + pack(5'000, 2) + base.substr(100'000, 150'000) + base.substr(260'000);
    const std::string delta = makeDelta(base, result);
    ASSERT_LT(delta.size(), 10'000u);
    struct Case {
        const char* what;
        std::string installed;
        std::string resultSha256;
        bool applies;
    } cases[] = {
        {"its base", base, sha256Of(result), true},
        {"a base the player changed", base.substr(0, 299'999) + "x", sha256Of(result), false},
        {"a result that does not check out", base, sha256Of(base), false},
        {"the result already in place", result, sha256Of(result), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(install);
        fs::create_directories(install + "data");
        writeText(install + "version.dat", "1000");
        writeText(install + "data/pack.dat", c.installed);
        ASSERT_TRUE(platform::setFileAttributes(install + "data/pack.dat", platform::attributeReadOnly));
        const std::string archive = served + "1001.delta.zip";
        writeText(served + "delta.bin", delta);
        writeText(served + "manifest", deltaManifestText({{".ostrevan-delta/0", base.size(), sha256Of(base),
                                                           result.size(), c.resultSha256, "DATA/pack.dat"}}));
        ASSERT_TRUE(makePythonArchive(archive,
                                      "z.write(os.path.join(os.path.dirname(sys.argv[1]), 'delta.bin'), "
                                      "'.ostrevan-delta/0')\n"
                                      "z.write(os.path.join(os.path.dirname(sys.argv[1]), 'manifest'), "
                                      "'.ostrevan-delta/manifest')\n"
                                      "z.writestr('data/new.txt', 'new')\n"
                                      "z.writestr('version.dat', '1001')\n"));

        EXPECT_EQ(applyDeltaArchive(archive, install), c.applies);
        const auto files = [this] {
            std::vector<std::string> names;
            for (const auto& entry : fs::recursive_directory_iterator(install))
                names.push_back(entry.path().filename().string());
            std::sort(names.begin(), names.end());
            return names;
        }();
        EXPECT_EQ(files, c.applies ? (std::vector<std::string>{"data", "new.txt", "pack.dat", "version.dat"})
                                   : (std::vector<std::string>{"data", "pack.dat", "version.dat"}));
        EXPECT_EQ(readText(install + "data/pack.dat"), c.applies ? result : c.installed);
        EXPECT_EQ(readText(install + "version.dat"), c.applies ? "1001" : "1000");
        EXPECT_EQ(platform::fileAttributes(install + "data/pack.dat").value_or(0) &
                      platform::attributeReadOnly,
                  platform::attributeReadOnly);
        platform::setFileAttributes(install + "data/pack.dat", platform::attributeNormal);
    }
}

} // namespace
