// Whether a downloaded launcher is a whole program for this machine: the check it must pass before
// the running launcher gives way to it.
//
// [X] an ELF of this very program's class, byte order and machine (read from /proc/self/exe), of
//     type EXEC or DYN (a position-independent program)
// [X] the program header table, the section header table and every segment's range in the file
//     lie inside the file, so a download cut anywhere past the first header fails; extended
//     numbering (more than 65,534 entries, counts kept in the first section header) is read
// [X] a shell script, a text page or an ELF for another machine is no program here
// [X] the launcher's release, from the note "ostrevan-release" in a PT_NOTE segment (the linker
//     gathers .note.* sections there, so it survives strip)
// [ ] no look inside the segments: whether the code runs is for the signature to vouch for
#include "platform/process.h"

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace platform {
namespace {

// Magic, class, byte order and version (e_ident), then e_type and e_machine: the same offsets
// in both classes.
struct Identity {
    unsigned char ident[EI_NIDENT];
    std::uint16_t type;
    std::uint16_t machine;
};

class Descriptor {
  public:
    explicit Descriptor(const std::string& path)
        : descriptor_(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {}
    ~Descriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }

  private:
    int descriptor_;
};

bool readAt(int descriptor, void* data, std::size_t size, std::uint64_t offset) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t got = ::pread(descriptor, bytes, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool rangeInside(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
    return offset <= fileSize && length <= fileSize - offset;
}

// `count` entries of `entrySize` bytes from `offset`, without overflowing.
bool tableInside(std::uint64_t offset, std::uint64_t count, std::uint64_t entrySize, std::uint64_t fileSize) {
    return count <= fileSize / entrySize && rangeInside(offset, count * entrySize, fileSize);
}

template <class Header, class SegmentHeader, class SectionHeader>
bool tablesAndSegmentsInside(int descriptor, std::uint64_t fileSize) {
    Header header;
    if (!readAt(descriptor, &header, sizeof header, 0) || header.e_ehsize < sizeof header) return false;
    std::uint64_t segmentCount = header.e_phnum;
    if (header.e_shoff != 0) {
        if (header.e_shentsize != sizeof(SectionHeader) ||
            !tableInside(header.e_shoff, 1, sizeof(SectionHeader), fileSize))
            return false;
        std::uint64_t sectionCount = header.e_shnum;
        if (sectionCount == 0 || segmentCount == PN_XNUM) {
            SectionHeader first;
            if (!readAt(descriptor, &first, sizeof first, header.e_shoff)) return false;
            if (sectionCount == 0) sectionCount = first.sh_size;
            if (segmentCount == PN_XNUM) segmentCount = first.sh_info;
        }
        if (!tableInside(header.e_shoff, sectionCount, sizeof(SectionHeader), fileSize)) return false;
    } else if (segmentCount == PN_XNUM) {
        return false;
    }
    // A program without segments has nothing to load.
    if (segmentCount == 0 || header.e_phentsize != sizeof(SegmentHeader) ||
        !tableInside(header.e_phoff, segmentCount, sizeof(SegmentHeader), fileSize))
        return false;
    for (std::uint64_t i = 0; i < segmentCount; ++i) {
        SegmentHeader segment;
        if (!readAt(descriptor, &segment, sizeof segment, header.e_phoff + i * sizeof segment) ||
            !rangeInside(segment.p_offset, segment.p_filesz, fileSize))
            return false;
    }
    return true;
}

bool readIdentity(int descriptor, Identity& identity) {
    return readAt(descriptor, &identity, sizeof identity, 0) &&
           std::memcmp(identity.ident, ELFMAG, SELFMAG) == 0 && identity.ident[EI_VERSION] == EV_CURRENT;
}

constexpr char releaseNoteOwner[] = "ostrevan-release";
constexpr std::uint32_t releaseNoteType = 1;
// Note segments are a few hundred bytes; a larger one is not read whole.
constexpr std::uint64_t noteSegmentLimit = 64 * 1024;

std::uint32_t readWord(const unsigned char* bytes, bool littleEndian) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[littleEndian ? i : 3 - i])
                 << (8 * (littleEndian ? i : 3 - i));
    return value;
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// The release in the notes of one segment's bytes, or 0.
std::uint32_t releaseInNotes(const std::vector<unsigned char>& notes, std::uint64_t alignment,
                             bool littleEndian) {
    std::uint64_t at = 0;
    while (notes.size() - at >= 12) {
        const std::uint64_t nameSize = readWord(&notes[at], littleEndian);
        const std::uint64_t descriptionSize = readWord(&notes[at + 4], littleEndian);
        const std::uint32_t type = readWord(&notes[at + 8], littleEndian);
        const std::uint64_t name = at + 12;
        const std::uint64_t description = name + alignUp(nameSize, alignment);
        if (nameSize > notes.size() || descriptionSize > notes.size() || description > notes.size() ||
            descriptionSize > notes.size() - description)
            return 0;
        if (type == releaseNoteType && nameSize == sizeof releaseNoteOwner && descriptionSize == 4 &&
            std::memcmp(&notes[name], releaseNoteOwner, sizeof releaseNoteOwner) == 0)
            return readWord(&notes[description], littleEndian);
        at = description + alignUp(descriptionSize, alignment);
        if (at > notes.size()) return 0;
    }
    return 0;
}

template <class Header, class SegmentHeader>
std::uint32_t releaseInFile(int descriptor, std::uint64_t fileSize, bool littleEndian) {
    Header header;
    if (!readAt(descriptor, &header, sizeof header, 0) || header.e_phentsize != sizeof(SegmentHeader) ||
        !tableInside(header.e_phoff, header.e_phnum, sizeof(SegmentHeader), fileSize))
        return 0;
    for (std::uint64_t i = 0; i < header.e_phnum; ++i) {
        SegmentHeader segment;
        if (!readAt(descriptor, &segment, sizeof segment, header.e_phoff + i * sizeof segment)) return 0;
        if (segment.p_type != PT_NOTE || segment.p_filesz > noteSegmentLimit ||
            !rangeInside(segment.p_offset, segment.p_filesz, fileSize))
            continue;
        std::vector<unsigned char> notes(segment.p_filesz);
        if (!readAt(descriptor, notes.data(), notes.size(), segment.p_offset)) return 0;
        const std::uint32_t release = releaseInNotes(notes, segment.p_align == 8 ? 8 : 4, littleEndian);
        if (release != 0) return release;
    }
    return 0;
}

} // namespace

std::uint32_t executableRelease(const std::string& path) {
    const Descriptor file(path);
    struct stat info {};
    Identity identity{};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        !readIdentity(file.get(), identity))
        return 0;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    const bool littleEndian = identity.ident[EI_DATA] == ELFDATA2LSB;
    // The headers are read as this machine lays them out: a file of another byte order or class
    // is no launcher here anyway.
    if (identity.ident[EI_DATA] != (std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB))
        return 0;
    if (identity.ident[EI_CLASS] == ELFCLASS64)
        return releaseInFile<Elf64_Ehdr, Elf64_Phdr>(file.get(), size, littleEndian);
    if (identity.ident[EI_CLASS] == ELFCLASS32)
        return releaseInFile<Elf32_Ehdr, Elf32_Phdr>(file.get(), size, littleEndian);
    return 0;
}

bool isCompleteExecutable(const std::string& path) {
    Identity own{};
    {
        const Descriptor self("/proc/self/exe");
        if (self.get() < 0 || !readIdentity(self.get(), own)) return false;
    }
    const Descriptor file(path);
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    Identity candidate{};
    if (!readIdentity(file.get(), candidate) || candidate.ident[EI_CLASS] != own.ident[EI_CLASS] ||
        candidate.ident[EI_DATA] != own.ident[EI_DATA] || candidate.machine != own.machine ||
        (candidate.type != ET_EXEC && candidate.type != ET_DYN))
        return false;
    const auto size = static_cast<std::uint64_t>(info.st_size);
    if (candidate.ident[EI_CLASS] == ELFCLASS64)
        return tablesAndSegmentsInside<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(file.get(), size);
    if (candidate.ident[EI_CLASS] == ELFCLASS32)
        return tablesAndSegmentsInside<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(file.get(), size);
    return false;
}

} // namespace platform
