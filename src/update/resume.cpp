// Kept parts of cut downloads and the validator files that make them resumable.
//
// The validator file holds four lines: a format tag, the address the part was fetched from, the
// complete file's size and the server's validator (a strong ETag or Last-Modified). A part whose
// validator file is missing, unreadable, names another address or does not fit the size is no
// part worth keeping: the next download starts from the first byte.
#include "update/resume.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/files.h"

namespace {

constexpr const char* resumeSuffix = ".resume";
constexpr const char* formatTag = "ostrevan-resume-v1";
constexpr std::size_t hashBlockBytes = 256 * 1024;

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

} // namespace

std::string resumeFilePath(const std::string& partPath) {
    return partPath + resumeSuffix;
}

std::optional<ResumePoint> keptPart(const std::string& partPath, const std::string& url) {
    std::ifstream in(resumeFilePath(partPath), std::ios::binary);
    std::string tag;
    std::string address;
    std::string totalText;
    ResumePoint point;
    const bool read = in && std::getline(in, tag) && std::getline(in, address) &&
                      std::getline(in, totalText) && std::getline(in, point.validator);
    in.close();
    std::error_code error;
    const auto size = std::filesystem::file_size(partPath, error);
    if (read && !error && tag == formatTag && address == url && !point.validator.empty() &&
        totalText.find_first_not_of("0123456789") == std::string::npos && totalText.size() <= 19 &&
        !totalText.empty()) {
        point.total = std::stoull(totalText);
        point.kept = size;
        if (point.kept > 0 && point.kept < point.total) return point;
    }
    forgetPart(partPath);
    return std::nullopt;
}

bool saveResumePoint(const std::string& partPath, const std::string& url, const std::string& validator,
                     std::uint64_t total) {
    if (validator.empty() || total == 0 || hasLineBreak(url) || hasLineBreak(validator)) return false;
    // Written in place: a torn file no longer reads back, and the part is then dropped.
    std::ofstream out(resumeFilePath(partPath), std::ios::binary | std::ios::trunc);
    out << formatTag << '\n' << url << '\n' << total << '\n' << validator << '\n';
    out.flush();
    return static_cast<bool>(out);
}

void forgetPart(const std::string& partPath) {
    platform::deleteFile(resumeFilePath(partPath));
    platform::deleteFile(partPath);
}

bool hashFileStart(const std::string& path, std::uint64_t bytes, platform::Sha256Hasher& hasher) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(hashBlockBytes);
    while (in && bytes > 0) {
        const auto want = static_cast<std::streamsize>(std::min<std::uint64_t>(bytes, block.size()));
        in.read(block.data(), want);
        if (in.gcount() != want || !hasher.update(block.data(), static_cast<std::size_t>(want))) return false;
        bytes -= static_cast<std::uint64_t>(want);
    }
    return bytes == 0;
}
