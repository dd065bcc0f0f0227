// Kept parts of cut downloads and the validator files that make them resumable.
//
// The validator file holds four lines: a format tag, the address the part was fetched from, the
// complete file's size and the server's validator (a strong ETag or Last-Modified). A part whose
// validator file is missing, unreadable, names another address or does not fit the size is no
// part worth keeping: the next download starts from the first byte.
#include "update/resume.h"

#include <vector>

#include "platform/file_io.h"
#include "platform/files.h"

namespace {

constexpr const char* resumeSuffix = ".resume";
constexpr const char* formatTag = "ostrevan-resume-v1";
constexpr std::size_t hashBlockBytes = 256 * 1024;
// Four short lines; anything longer is no validator file of ours.
constexpr std::uint64_t resumeFileLimit = 64 * 1024;

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// The lines of `text` as a line reader finds them: a last line feed ends a line, it starts none.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

} // namespace

std::string resumeFilePath(const std::string& partPath) {
    return partPath + resumeSuffix;
}

std::optional<ResumePoint> keptPart(const std::string& partPath, const std::string& url) {
    const auto lines =
        linesOf(platform::readWholeFile(resumeFilePath(partPath), resumeFileLimit).value_or(""));
    const auto size = platform::fileSize(partPath);
    if (lines.size() >= 4 && size && lines[0] == formatTag && lines[1] == url && !lines[3].empty() &&
        lines[2].find_first_not_of("0123456789") == std::string::npos && lines[2].size() <= 19 &&
        !lines[2].empty()) {
        ResumePoint point;
        point.total = std::stoull(lines[2]);
        point.kept = *size;
        point.validator = lines[3];
        if (point.kept > 0 && point.kept < point.total) return point;
    }
    forgetPart(partPath);
    return std::nullopt;
}

bool saveResumePoint(const std::string& partPath, const std::string& url, const std::string& validator,
                     std::uint64_t total) {
    if (validator.empty() || total == 0 || hasLineBreak(url) || hasLineBreak(validator)) return false;
    // Written in place: a torn file no longer reads back, and the part is then dropped.
    return platform::writeWholeFile(resumeFilePath(partPath), std::string(formatTag) + '\n' + url + '\n' +
                                                                  std::to_string(total) + '\n' + validator +
                                                                  '\n');
}

void forgetPart(const std::string& partPath) {
    platform::deleteFile(resumeFilePath(partPath));
    platform::deleteFile(partPath);
}

bool hashFileStart(const std::string& path, std::uint64_t bytes, platform::Sha256Hasher& hasher) {
    platform::File in = platform::openFile(path, platform::OpenMode::read);
    while (in && bytes > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, hashBlockBytes));
        const auto got = in.readUpTo(want);
        if (!got || got->size() != want || !hasher.update(got->data(), want)) return false;
        bytes -= want;
    }
    return bytes == 0;
}
