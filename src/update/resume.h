// Kept parts of cut downloads: a downloadPartPath(target) with, beside it, its ".resume" record naming
// the server's copy that the part begins (its validator and total size). Start-up keeps a part
// only while its validator file lies beside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/digest.h"

struct ResumePoint {
    std::uint64_t kept = 0; // bytes of the part
    std::uint64_t total = 0;
    std::string validator;
};

std::string resumeFilePath(const std::string& partPath);
// The part at `partPath`, when its validator file is beside it, names `url`, and the part is a
// proper beginning of the file it names. Otherwise the part and its validator file are removed.
std::optional<ResumePoint> keptPart(const std::string& partPath, const std::string& url);
// Writes the validator file; false (and nothing worth resuming) without a validator or a size.
bool saveResumePoint(const std::string& partPath, const std::string& url, const std::string& validator,
                     std::uint64_t total);
// Removes the part and its validator file.
void forgetPart(const std::string& partPath);
// Feeds the first `bytes` of the file at `path` to `hasher`; false when they cannot all be read.
bool hashFileStart(const std::string& path, std::uint64_t bytes, platform::Sha256Hasher& hasher);
