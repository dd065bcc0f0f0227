// Whether a downloaded launcher is a whole program for this machine: the check it must pass before
// the running launcher gives way to it.
//
// [X] a PE image: "MZ", the "PE\0\0" signature where e_lfanew points, a COFF header for this
//     program's machine (x86-64 or x86, as built), an executable image that is no DLL, an
//     optional header of the matching kind (PE32+ or PE32)
// [X] the headers (SizeOfHeaders) and every section's raw data lie inside the file, so a download
//     cut anywhere past the first header fails
// [X] a script, a text page or a program for another machine is no program here
// [X] the launcher's release: the first two words of the version resource's file version
//     (GetFileVersionInfo reads the resource from the file without running it)
// [ ] no look inside the sections: whether the code runs is for the signature to vouch for
#include "platform/process.h"

#include "wide_text.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace platform {
namespace {

#ifdef _WIN64
constexpr WORD thisMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD thisOptionalMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
using OptionalHeader = IMAGE_OPTIONAL_HEADER64;
#else
constexpr WORD thisMachine = IMAGE_FILE_MACHINE_I386;
constexpr WORD thisOptionalMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
using OptionalHeader = IMAGE_OPTIONAL_HEADER32;
#endif

bool readAt(HANDLE file, std::uint64_t offset, void* buffer, DWORD size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    DWORD got = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
           ReadFile(file, buffer, size, &got, nullptr) && got == size;
}

} // namespace

std::uint32_t executableRelease(const std::string& path) {
    const std::wstring wide = win32::widen(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
    if (size == 0) return 0;
    std::vector<unsigned char> information(size);
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!GetFileVersionInfoW(wide.c_str(), 0, size, information.data()) ||
        !VerQueryValueW(information.data(), L"\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return 0;
    const auto* version = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return version->dwSignature == 0xFEEF04BD ? version->dwFileVersionMS : 0;
}

bool isCompleteExecutable(const std::string& path) {
    const win32::UniqueHandle file = win32::ownHandle(
        CreateFileW(win32::widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || GetFileType(file.get()) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file.get(), &fileSize) || fileSize.QuadPart <= 0) return false;
    const auto size = static_cast<std::uint64_t>(fileSize.QuadPart);

    IMAGE_DOS_HEADER dos{};
    if (!readAt(file.get(), 0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return false;
    const auto ntOffset = static_cast<std::uint64_t>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER coff{};
    if (!readAt(file.get(), ntOffset, &signature, sizeof signature) || signature != IMAGE_NT_SIGNATURE ||
        !readAt(file.get(), ntOffset + sizeof signature, &coff, sizeof coff))
        return false;
    if (coff.Machine != thisMachine || (coff.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE) == 0 ||
        (coff.Characteristics & IMAGE_FILE_DLL) != 0 || coff.SizeOfOptionalHeader < sizeof(OptionalHeader) ||
        coff.NumberOfSections == 0)
        return false;
    const std::uint64_t optionalOffset = ntOffset + sizeof signature + sizeof coff;
    OptionalHeader optional{};
    if (!readAt(file.get(), optionalOffset, &optional, sizeof optional) ||
        optional.Magic != thisOptionalMagic || optional.SizeOfHeaders > size)
        return false;

    const std::uint64_t sectionsOffset = optionalOffset + coff.SizeOfOptionalHeader;
    std::vector<IMAGE_SECTION_HEADER> sections(coff.NumberOfSections);
    const auto tableSize = static_cast<DWORD>(sections.size() * sizeof(IMAGE_SECTION_HEADER));
    if (sectionsOffset + tableSize > size || !readAt(file.get(), sectionsOffset, sections.data(), tableSize))
        return false;
    for (const auto& section : sections)
        if (section.SizeOfRawData > 0 &&
            static_cast<std::uint64_t>(section.PointerToRawData) + section.SizeOfRawData > size)
            return false;
    return true;
}

} // namespace platform
