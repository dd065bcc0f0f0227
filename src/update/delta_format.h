// The delta patch's format, shared by the launcher and the operator's release tool.
//
// patches/<version>.delta.zip is an ordinary patch archive (whole new or changed files and
// version.dat, laid over the installation as the full patch is) plus a folder of its own,
// deltaFolder, holding a manifest and one librsync delta per file that changed only in part. The
// manifest's first line is deltaManifestFormat; each further line names one file, tab-separated:
//
//   <delta entry> <base size> <base SHA-256> <result size> <result SHA-256> <path>
//
// A delta applies only to a base of that size and hash, and must give exactly the result's size
// and hash. The full archive patches/<version>.zip stays published beside it for every launcher
// that cannot use the delta (an older one, or a player's modified base).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* deltaFolder = ".ostrevan-delta/";
inline constexpr const char* deltaManifestEntry = ".ostrevan-delta/manifest";
inline constexpr const char* deltaManifestFormat = "ostrevan-delta-v1";
inline constexpr const char* deltaArchiveSuffix = ".delta.zip";
// A manifest longer than this is no manifest: it lists files, one short line each.
inline constexpr std::size_t deltaManifestLimit = 4u << 20;

struct DeltaFile {
    std::string entry; // the delta's name in the archive, under deltaFolder
    std::uint64_t baseSize = 0;
    std::string baseSha256; // 64 lowercase hex digits
    std::uint64_t resultSize = 0;
    std::string resultSha256;
    std::string path; // relative to the installation, '/' between folders
};

std::string deltaManifestText(const std::vector<DeltaFile>& files);
// Nothing when the text is not a manifest of this format, a line is malformed, or two lines
// name the same entry or path.
std::optional<std::vector<DeltaFile>> parseDeltaManifest(std::string_view text);

// Reads the next bytes of the delta into `data`; 0 at its end, nothing on failure.
using ReadDelta = std::function<std::optional<std::size_t>(char* data, std::size_t size)>;
// Reads the base at `offset`; fewer bytes only at its end, nothing on failure.
using ReadBase =
    std::function<std::optional<std::size_t>(std::uint64_t offset, char* data, std::size_t size)>;
// Takes the next bytes of the result; false stops the work.
using WriteResult = std::function<bool(const char* data, std::size_t size)>;

// Rebuilds a file from its base and a librsync delta, in fixed memory whatever the sizes. True
// only when the delta is whole and gave exactly `resultSize` bytes; a delta that would give more
// is refused as soon as it does, before those bytes reach `write`.
bool applyDelta(const ReadDelta& read, const ReadBase& base, const WriteResult& write,
                std::uint64_t resultSize);
