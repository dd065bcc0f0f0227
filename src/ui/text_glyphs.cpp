#include "ui/text_glyphs.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>
#include <utility>

#include <imgui_internal.h>

#include "platform/file_io.h"
#include "platform/process.h"
#include "ui/kept_glyphs.h"

namespace {

constexpr float fallbackFontSize = 14.0f;
// The icon fonts own these code points; a text face that has some of them (Liberation Sans has
// U+F001) must not take them over.
constexpr ImWchar iconFirst = 0xF000;
constexpr ImWchar iconLast = 0xF950;
constexpr const char* tooManyCharactersText =
    "fonts: the texts need more than 4096 characters beyond Latin-1; the rest show the fallback glyph";
// More faces than this would only cost memory and build time: a few cover every living script.
constexpr std::size_t maximumFallbackFaces = 4;

bool isIcon(ImWchar c) {
    return c >= iconFirst && c <= iconLast;
}

bool isDefaultRange(ImWchar c) {
    return c < 0x100;
}

bool drawsAGlyph(ImWchar c) {
    return c >= 0x20 && !(c >= 0x7F && c < 0xA0) && !isIcon(c);
}

// The interface library's allocator itself: Dear ImGui's MemAlloc would count the allocation in
// the interface's context, which the search's thread must not touch (the count, a statistic, ends
// one lower when the atlas frees the faces' bytes).
struct LibraryHeap {
    ImGuiMemAllocFunc allocate = nullptr;
    ImGuiMemFreeFunc release = nullptr;
    void* user = nullptr;
    LibraryHeap() { ImGui::GetAllocatorFunctions(&allocate, &release, &user); }
};

} // namespace

bool TextGlyphs::note(std::string_view text) {
    bool added = false;
    const char* position = text.data();
    const char* end = text.data() + text.size();
    while (position < end) {
        unsigned int c = 0;
        const int length = ImTextCharFromUtf8(&c, position, end);
        position += length > 0 ? length : 1;
        if (c > 0xFFFF) c = IM_UNICODE_CODEPOINT_INVALID;
        const auto glyph = static_cast<ImWchar>(c);
        if (isDefaultRange(glyph) || !drawsAGlyph(glyph) || needed_.count(glyph) != 0) continue;
        if (needed_.size() >= maximumCharacters) {
            if (!overflowReported_) platform::diagnose(tooManyCharactersText);
            overflowReported_ = true;
            continue;
        }
        needed_.insert(glyph);
        pending_.insert(glyph);
        added = true;
    }
    return added;
}

bool TextGlyphs::growAtlas(ImFontAtlas& atlas) {
    if (atlas.Fonts.empty() || atlas.Locked) return false;
    if (!keepsGlyphs(atlas)) {
        if (atlas.TexPixelsAlpha8 == nullptr && !atlas.Build()) return false;
        keepAtlasGlyphs(atlas);
        if (!keepsGlyphs(atlas)) return false;
    }
    std::vector<ImWchar> step;
    while (!pending_.empty() && step.size() < charactersPerStep)
        step.push_back(pending_.extract(pending_.begin()).value());
    ImFontGlyphRangesBuilder builder;
    builder.AddChar(keptAtlasRanges()[0]);
    for (const ImWchar c : step) builder.AddChar(c);
    ImVector<ImWchar> ranges;
    builder.BuildRanges(&ranges);
    // Every face is asked for the step's characters; the first that has one draws it. The build
    // points the ranges back at the kept atlas's own.
    for (ImFontConfig& config : atlas.ConfigData) config.GlyphRanges = ranges.Data;
    // A build that fails leaves the glyphs as they were, and so the renderer's texture.
    const ImTextureID texture = atlas.TexID;
    if (!atlas.Build()) {
        atlas.SetTexID(texture);
        return false;
    }
    const ImFont& font = *atlas.Fonts[0];
    for (const ImWchar c : step)
        if (font.FindGlyphNoFallback(c) == nullptr && searched_.count(c) == 0) unsearched_.push_back(c);
    return true;
}

void TextGlyphs::FoundFace::HeapFree::operator()(void* data) const {
    const LibraryHeap heap;
    heap.release(data, heap.user);
}

namespace {

// Larger than any face a system ships (Noto Sans CJK's collection is 20 MB, Microsoft YaHei's
// 19 MB); a file beyond it is not read whole.
constexpr std::uint64_t maximumFaceBytes = 64ull << 20;

std::string faceKey(const std::string& path, int index) {
    return path + "#" + std::to_string(index);
}

// The face's bytes, read straight into the library's heap (a CJK face is some 20 MB), where the
// atlas takes them as they are.
TextGlyphs::FoundFace readFace(const SystemFontFile& face) {
    TextGlyphs::FoundFace found;
    found.path = face.path;
    found.index = face.index;
    platform::File file;
    std::uint64_t size = face.data.size();
    if (face.data.empty()) {
        file = platform::openFile(face.path, platform::OpenMode::read);
        size = file ? file.size().value_or(0) : 0;
    }
    if (size < 4 || size > maximumFaceBytes) return found;
    const LibraryHeap heap;
    std::unique_ptr<void, TextGlyphs::FoundFace::HeapFree> data(
        heap.allocate(static_cast<std::size_t>(size), heap.user));
    if (!data) return found;
    auto* bytes = static_cast<unsigned char*>(data.get());
    if (face.data.empty()) {
        for (std::size_t done = 0; done < size;) {
            const std::optional<std::size_t> read =
                file.read(bytes + done, static_cast<std::size_t>(size) - done);
            if (!read || *read == 0) return found; // shorter than it said, or unreadable
            done += *read;
        }
    } else {
        std::memcpy(bytes, face.data.data(), face.data.size());
    }
    std::array<char, 4> magic{};
    std::memcpy(magic.data(), bytes, magic.size());
    if (!isFontFileStart(magic)) return found;
    found.data = std::move(data);
    found.size = static_cast<std::size_t>(size);
    return found;
}

// The search's own thread: asks the system, reads the faces it names one at a time and keeps
// those with characters still missing.
std::vector<TextGlyphs::FoundFace> findFaces(std::vector<char32_t> missing, std::set<std::string> merged,
                                             const FallbackFontFinder& find, std::size_t room) {
    std::vector<TextGlyphs::FoundFace> found;
    // Chinese, Japanese and Korean are asked about on their own: the system's best matches for a
    // mixture with other scripts may all lack them.
    std::vector<char32_t> others;
    std::erase_if(missing, [&others](char32_t c) {
        if (!scriptLanguage({c}).empty()) return false;
        others.push_back(c);
        return true;
    });
    for (std::vector<char32_t>* group : {&missing, &others}) {
        if (group->empty()) continue;
        for (const SystemFontFile& face : find(*group)) {
            if (group->empty() || found.size() >= room) break;
            if (!merged.insert(faceKey(face.path, face.index)).second) continue;
            TextGlyphs::FoundFace read = readFace(face);
            const std::vector<char32_t> has = faceCharacters(
                static_cast<const unsigned char*>(read.data.get()), read.size, face.index, *group);
            if (has.empty()) continue;
            std::erase_if(*group,
                          [&has](char32_t c) { return std::find(has.begin(), has.end(), c) != has.end(); });
            found.push_back(std::move(read));
        }
    }
    return found;
}

} // namespace

void TextGlyphs::searchFallbacks(FallbackFontFinder find) {
    if (unsearched_.empty() || search_.valid() || !find) return;
    std::vector<char32_t> characters(unsearched_.begin(), unsearched_.end());
    searched_.insert(unsearched_.begin(), unsearched_.end());
    unsearched_.clear();
    const std::size_t room =
        maximumFallbackFaces > mergedFaces_.size() ? maximumFallbackFaces - mergedFaces_.size() : 0;
    auto task = [characters = std::move(characters), merged = mergedFaces_, find = std::move(find), room] {
        try {
            return findFaces(characters, merged, find, room);
        } catch (const std::exception&) {
            return std::vector<FoundFace>{}; // out of memory: the characters stay fallback glyphs
        }
    };
    try {
        // Where no thread can be started, the search runs when its faces are asked for.
        search_ = std::async(std::launch::async | std::launch::deferred, std::move(task));
    } catch (const std::system_error&) {
    }
}

bool TextGlyphs::fallbacksFound() const {
    return search_.valid() && search_.wait_for(std::chrono::seconds(0)) != std::future_status::timeout;
}

bool TextGlyphs::addFallbacks(ImFontAtlas& atlas) {
    if (!search_.valid()) return true;
    std::vector<FoundFace> faces = search_.get();
    if (faces.empty()) return true;
    if (atlas.Fonts.empty() || atlas.Locked) return false;
    for (FoundFace& face : faces) {
        mergedFaces_.insert(faceKey(face.path, face.index));
        ImFontConfig config;
        config.MergeMode = true;
        config.PixelSnapH = true;
        config.OversampleH = 1;
        config.OversampleV = 1;
        config.FontNo = face.index;
        const std::size_t separator = face.path.find_last_of("/\\");
        std::snprintf(config.Name, sizeof config.Name, "%s", face.path.substr(separator + 1).c_str());
        // The atlas owns the bytes from here and frees them with the same allocator.
        if (atlas.AddFontFromMemoryTTF(face.data.get(), static_cast<int>(face.size), fallbackFontSize,
                                       &config, keptAtlasRanges()) == nullptr)
            continue;
        face.data.release();
        platform::diagnose("fonts: characters the text face lacks come from " + face.path);
    }
    // The new faces may have any character that no face had: those of this search, of earlier
    // ones and those missed while it ran. Characters with a glyph are never drawn a second time.
    const ImFont& font = *atlas.Fonts[0];
    for (const ImWchar c : searched_)
        if (font.FindGlyphNoFallback(c) == nullptr) pending_.insert(c);
    pending_.insert(unsearched_.begin(), unsearched_.end());
    unsearched_.clear();
    return true;
}
