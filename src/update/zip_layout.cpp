#include "update/zip_layout.h"

#include <algorithm>
#include <numeric>

#include "platform/file_io.h"

namespace {

constexpr std::uint32_t endSignature = 0x06054b50;
constexpr std::uint32_t zip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t zip64EndSignature = 0x06064b50;
constexpr std::uint32_t centralSignature = 0x02014b50;
constexpr std::uint32_t localSignature = 0x04034b50;
constexpr std::size_t endSize = 22;
constexpr std::size_t zip64LocatorSize = 20;
constexpr std::size_t zip64EndSize = 56;
constexpr std::size_t centralSize = 46;
constexpr std::size_t localSize = 30;
constexpr std::size_t longestComment = 0xFFFF;
constexpr std::uint16_t zip64ExtraId = 0x0001;

std::uint64_t little(const std::string& bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

class Reader {
  public:
    explicit Reader(const std::string& path)
        : file_(platform::openFile(path, platform::OpenMode::read)), size_(file_.size().value_or(0)) {}
    std::uint64_t size() const { return size_; }
    // `count` bytes at `offset`; nothing when they are not all there.
    std::optional<std::string> read(std::uint64_t offset, std::uint64_t count) {
        if (!file_ || offset > size_ || count > size_ - offset) return std::nullopt;
        if (!file_.seek(offset)) return std::nullopt;
        auto bytes = file_.readUpTo(static_cast<std::size_t>(count));
        if (!bytes || bytes->size() != count) return std::nullopt;
        return bytes;
    }
    // A few bytes at `offset`, through a window kept from the last call: local headers mostly come
    // in file order, so tens of thousands of them cost a few hundred reads.
    std::optional<std::string> readSmall(std::uint64_t offset, std::uint64_t count) {
        if (offset < windowStart_ || offset - windowStart_ + count > window_.size()) {
            if (offset > size_) return std::nullopt;
            const auto bytes = read(offset, std::min<std::uint64_t>(windowSize, size_ - offset));
            if (!bytes) return std::nullopt;
            window_ = *bytes;
            windowStart_ = offset;
            if (count > window_.size()) return std::nullopt;
        }
        return window_.substr(static_cast<std::size_t>(offset - windowStart_),
                              static_cast<std::size_t>(count));
    }

  private:
    static constexpr std::uint64_t windowSize = 64 * 1024;
    platform::File file_;
    std::uint64_t size_ = 0;
    std::string window_;
    std::uint64_t windowStart_ = 0;
};

struct Directory {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t entries = 0;
};

// The last end record whose comment reaches no further than the file.
std::optional<Directory> findDirectory(Reader& reader) {
    const std::uint64_t tailSize = std::min<std::uint64_t>(reader.size(), endSize + longestComment);
    const std::uint64_t tailStart = reader.size() - tailSize;
    const auto tail = reader.read(tailStart, tailSize);
    if (!tail || tail->size() < endSize) return std::nullopt;
    for (std::size_t at = tail->size() - endSize + 1; at-- > 0;) {
        if (little(*tail, at, 4) != endSignature) continue;
        if (at + endSize + little(*tail, at + 20, 2) > tail->size()) continue;
        Directory directory{little(*tail, at + 16, 4), little(*tail, at + 12, 4), little(*tail, at + 10, 2)};
        const bool needs64 =
            directory.offset == 0xFFFFFFFF || directory.size == 0xFFFFFFFF || directory.entries == 0xFFFF;
        const std::uint64_t endOffset = tailStart + at;
        if (!needs64 || endOffset < zip64LocatorSize) return directory;
        const auto locator = reader.read(endOffset - zip64LocatorSize, zip64LocatorSize);
        if (!locator || little(*locator, 0, 4) != zip64LocatorSignature) return directory;
        const auto end64 = reader.read(little(*locator, 8, 8), zip64EndSize);
        if (!end64 || little(*end64, 0, 4) != zip64EndSignature) return std::nullopt;
        return Directory{little(*end64, 48, 8), little(*end64, 40, 8), little(*end64, 32, 8)};
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<EntrySpan>> readEntrySpans(const std::string& archivePath) {
    Reader reader(archivePath);
    const auto directory = findDirectory(reader);
    if (!directory) return std::nullopt;
    const auto records = reader.read(directory->offset, directory->size);
    if (!records) return std::nullopt;

    std::vector<EntrySpan> spans;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < directory->entries; ++i) {
        if (at + centralSize > records->size() || little(*records, at, 4) != centralSignature)
            return std::nullopt;
        std::uint64_t compressed = little(*records, at + 20, 4);
        std::uint64_t uncompressed = little(*records, at + 24, 4);
        std::uint64_t offset = little(*records, at + 42, 4);
        const std::size_t nameLength = little(*records, at + 28, 2);
        const std::size_t extraLength = little(*records, at + 30, 2);
        const std::size_t commentLength = little(*records, at + 32, 2);
        const std::size_t next = at + centralSize + nameLength + extraLength + commentLength;
        if (next > records->size()) return std::nullopt;
        // The ZIP64 extra field holds, in this order, each of these that did not fit.
        for (std::size_t extra = at + centralSize + nameLength;
             extra + 4 <= at + centralSize + nameLength + extraLength;) {
            const auto id = little(*records, extra, 2);
            const std::size_t length = little(*records, extra + 2, 2);
            std::size_t field = extra + 4;
            const std::size_t fieldEnd = std::min(field + length, records->size());
            if (id == zip64ExtraId) {
                for (std::uint64_t* value : {&uncompressed, &compressed, &offset}) {
                    if (*value != 0xFFFFFFFF) continue;
                    if (field + 8 > fieldEnd) return std::nullopt;
                    *value = little(*records, field, 8);
                    field += 8;
                }
            }
            extra += 4 + length;
        }
        const auto local = reader.readSmall(offset, localSize);
        if (!local || little(*local, 0, 4) != localSignature) return std::nullopt;
        const std::uint64_t dataStart = offset + localSize + little(*local, 26, 2) + little(*local, 28, 2);
        if (compressed > reader.size() || dataStart + compressed > reader.size()) return std::nullopt;
        spans.push_back({offset, dataStart + compressed, compressed});
        at = next;
    }
    return spans;
}

std::vector<bool> overlappingSpans(const std::vector<EntrySpan>& spans) {
    std::vector<std::size_t> order(spans.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return spans[a].begin < spans[b].begin; });
    // Spans that overlap form runs in this order; every member of a run of two or more overlaps
    // another member.
    std::vector<bool> overlapping(spans.size(), false);
    std::size_t runStart = 0;
    std::uint64_t runEnd = 0;
    const auto closeRun = [&](std::size_t runStop) {
        if (runStop - runStart < 2) return;
        for (std::size_t m = runStart; m < runStop; ++m) overlapping[order[m]] = true;
    };
    for (std::size_t k = 0; k < order.size(); ++k) {
        const EntrySpan& span = spans[order[k]];
        if (k > 0 && span.begin < runEnd) {
            runEnd = std::max(runEnd, span.end);
            continue;
        }
        closeRun(k);
        runStart = k;
        runEnd = span.end;
    }
    closeRun(order.size());
    return overlapping;
}
