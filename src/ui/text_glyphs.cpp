#include "ui/text_glyphs.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <optional>
#include <system_error>

#include <imgui_internal.h>

#include "platform/file_io.h"
#include "platform/process.h"

namespace {

constexpr float fallbackFontSize = 14.0f;
// The icon fonts own these code points; a text face that has some of them (Liberation Sans has
// U+F001) must not take them over.
constexpr ImWchar iconFirst = 0xF000;
constexpr ImWchar iconLast = 0xF950;
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

// An icon glyph as the atlas's first build drew it.
struct KeptIcon {
    ImFont* font = nullptr;
    ImWchar codepoint = 0;
    int rect = -1; // the atlas's custom rectangle: the picture and a blank column and row, as
                   // the library pads its own glyphs against their neighbours' filtering
    int width = 0;
    int height = 0;
    std::size_t offset = 0; // of the picture in KeptIcons::pixels
    ImFontGlyph glyph;      // the quad, which oversampling makes smaller than the picture
};

struct KeptIcons {
    const ImFontAtlas* atlas = nullptr;
    std::vector<KeptIcon> icons;
    std::vector<unsigned char> pixels;
};

// The interface has one atlas, alive as long as the process.
KeptIcons keptIcons;

// Each build made the icons' glyphs from their rectangles, as large as the rectangles and blank;
// the pictures and quads go back in.
void putIconsBack(ImFontAtlas& atlas) {
    if (atlas.TexPixelsAlpha8 == nullptr) return;
    for (const KeptIcon& icon : keptIcons.icons) {
        const ImFontAtlasCustomRect& rect = *atlas.GetCustomRectByIndex(icon.rect);
        for (int row = 0; row < icon.height; ++row)
            std::memcpy(atlas.TexPixelsAlpha8 + static_cast<std::size_t>(rect.Y + row) * atlas.TexWidth +
                            rect.X,
                        keptIcons.pixels.data() + icon.offset + static_cast<std::size_t>(row) * icon.width,
                        static_cast<std::size_t>(icon.width));
        // The lookup gives the font's own glyph, which this build has just made.
        auto* glyph = const_cast<ImFontGlyph*>(icon.font->FindGlyphNoFallback(icon.codepoint));
        if (glyph == nullptr) continue;
        glyph->X0 = icon.glyph.X0;
        glyph->Y0 = icon.glyph.Y0;
        glyph->X1 = icon.glyph.X1;
        glyph->Y1 = icon.glyph.Y1;
        glyph->Visible = icon.glyph.Visible;
        glyph->U1 = static_cast<float>(rect.X + icon.width) * atlas.TexUvScale.x;
        glyph->V1 = static_cast<float>(rect.Y + icon.height) * atlas.TexUvScale.y;
    }
}

bool buildKeepingIcons(ImFontAtlas* atlas);
const ImFontBuilderIO keepingIconsBuilder{buildKeepingIcons};

bool buildKeepingIcons(ImFontAtlas* atlas) {
    // The library's own builder (stb_truetype or FreeType, as it was compiled) does the text.
    atlas->FontBuilderIO = nullptr;
    const bool built = atlas->Build();
    atlas->FontBuilderIO = &keepingIconsBuilder;
    if (built && atlas == keptIcons.atlas) putIconsBack(*atlas);
    return built;
}

// Whether a face was added for icon code points only.
bool iconSource(const ImFontConfig& config) {
    if (config.GlyphRanges == nullptr || config.GlyphRanges[0] == 0) return false;
    for (const ImWchar* range = config.GlyphRanges; range[0] != 0; range += 2)
        if (!isIcon(range[0]) || !isIcon(range[1])) return false;
    return true;
}

} // namespace

void keepIconGlyphs(ImFontAtlas& atlas) {
    if (atlas.Locked || atlas.TexPixelsAlpha8 == nullptr || atlas.FontBuilderIO == &keepingIconsBuilder)
        return;
    KeptIcons kept;
    kept.atlas = &atlas;
    for (ImFont* font : atlas.Fonts) {
        for (const ImFontGlyph& glyph : font->Glyphs) {
            if (!isIcon(static_cast<ImWchar>(glyph.Codepoint))) continue;
            KeptIcon icon;
            icon.font = font;
            icon.codepoint = static_cast<ImWchar>(glyph.Codepoint);
            icon.glyph = glyph;
            const long x = std::lround(glyph.U0 * static_cast<float>(atlas.TexWidth));
            const long y = std::lround(glyph.V0 * static_cast<float>(atlas.TexHeight));
            icon.width =
                static_cast<int>(std::lround((glyph.U1 - glyph.U0) * static_cast<float>(atlas.TexWidth)));
            icon.height =
                static_cast<int>(std::lround((glyph.V1 - glyph.V0) * static_cast<float>(atlas.TexHeight)));
            if (x < 0 || y < 0 || icon.width < 0 || icon.height < 0 || x + icon.width > atlas.TexWidth ||
                y + icon.height > atlas.TexHeight)
                return;
            icon.offset = kept.pixels.size();
            for (int row = 0; row < icon.height; ++row) {
                const unsigned char* start =
                    atlas.TexPixelsAlpha8 + static_cast<std::size_t>(y + row) * atlas.TexWidth + x;
                kept.pixels.insert(kept.pixels.end(), start, start + icon.width);
            }
            kept.icons.push_back(icon);
        }
    }
    if (kept.icons.empty()) return;

    for (int i = atlas.ConfigData.Size - 1; i >= 0; --i) {
        ImFontConfig& config = atlas.ConfigData[i];
        if (!config.MergeMode || !iconSource(config)) continue;
        if (config.FontDataOwnedByAtlas) IM_FREE(config.FontData);
        atlas.ConfigData.erase(&config);
    }
    for (ImFont* font : atlas.Fonts) {
        font->ConfigDataCount = 0;
        for (const ImFontConfig& config : atlas.ConfigData)
            if (config.DstFont == font) ++font->ConfigDataCount;
    }
    for (KeptIcon& icon : kept.icons)
        icon.rect = atlas.AddCustomRectFontGlyph(icon.font, icon.codepoint, icon.width + 1, icon.height + 1,
                                                 icon.glyph.AdvanceX, ImVec2(icon.glyph.X0, icon.glyph.Y0));
    keptIcons = std::move(kept);
    atlas.FontBuilderIO = &keepingIconsBuilder;
    // The library sizes the texture by its faces' glyphs alone; the icons would make a narrow one
    // very tall.
    atlas.TexDesiredWidth = atlas.TexWidth;
}

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
        if (isDefaultRange(glyph) || !drawsAGlyph(glyph)) continue;
        added = needed_.insert(glyph).second || added;
    }
    return added;
}

std::vector<ImWchar> TextGlyphs::missingFrom(const ImFont& font) const {
    std::vector<ImWchar> missing;
    for (const ImWchar c : needed_)
        if (font.FindGlyphNoFallback(c) == nullptr) missing.push_back(c);
    return missing;
}

void TextGlyphs::setTextRanges(ImFontAtlas& atlas) {
    ImFontGlyphRangesBuilder builder;
    builder.AddRanges(atlas.GetGlyphRangesDefault());
    for (const ImWchar c : needed_) builder.AddChar(c);
    ImVector<ImWchar> ranges;
    builder.BuildRanges(&ranges);
    // Text faces are the ones on the default range or on the previous ranges; icon fonts keep
    // theirs.
    for (ImFontConfig& config : atlas.ConfigData) {
        const bool text = config.GlyphRanges == nullptr ||
                          config.GlyphRanges == atlas.GetGlyphRangesDefault() ||
                          (!ranges_.empty() && config.GlyphRanges == ranges_.Data);
        if (text) config.GlyphRanges = ranges.Data;
    }
    ranges_.swap(ranges);
}

bool TextGlyphs::rebuild(ImFontAtlas& atlas) {
    if (atlas.Fonts.empty() || atlas.Locked) return false;
    setTextRanges(atlas);
    if (!atlas.Build()) return false;
    unsearched_.clear();
    for (const ImWchar c : missingFrom(*atlas.Fonts[0]))
        if (searched_.count(c) == 0) unsearched_.push_back(c);
    return true;
}

void TextGlyphs::FoundFace::HeapFree::operator()(void* data) const {
    ImGuiMemAllocFunc allocate = nullptr;
    ImGuiMemFreeFunc release = nullptr;
    void* user = nullptr;
    ImGui::GetAllocatorFunctions(&allocate, &release, &user);
    release(data, user);
}

namespace {

// Larger than any face a system ships (Noto Sans CJK's collection is 20 MB, Microsoft YaHei's
// 19 MB); a file beyond it is not read whole.
constexpr std::uint64_t maximumFaceBytes = 64ull << 20;

std::string faceKey(const std::string& path, int index) {
    return path + "#" + std::to_string(index);
}

// The face's bytes in the library's heap, through its allocator itself: Dear ImGui's MemAlloc
// would count the allocation in the interface's context, which this thread must not touch (the
// count, a statistic, ends one lower when the atlas frees them).
TextGlyphs::FoundFace readFace(const SystemFontFile& face) {
    TextGlyphs::FoundFace found;
    found.path = face.path;
    found.index = face.index;
    platform::File file;
    std::uint64_t size = face.data.size();
    if (face.data.empty()) {
        file = platform::openFile(face.path, platform::OpenMode::read);
        const std::optional<std::uint64_t> fileSize = file ? file.size() : std::nullopt;
        if (!fileSize || *fileSize < 4 || *fileSize > maximumFaceBytes) return found;
        size = *fileSize;
    }
    ImGuiMemAllocFunc allocate = nullptr;
    ImGuiMemFreeFunc release = nullptr;
    void* user = nullptr;
    ImGui::GetAllocatorFunctions(&allocate, &release, &user);
    std::unique_ptr<void, TextGlyphs::FoundFace::HeapFree> data(
        allocate(static_cast<std::size_t>(size), user));
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
    if (missing.empty() || room == 0) return found;
    for (const SystemFontFile& face : find(missing)) {
        if (missing.empty() || found.size() >= room) break;
        if (!merged.insert(faceKey(face.path, face.index)).second) continue;
        TextGlyphs::FoundFace read = readFace(face);
        const std::vector<char32_t> has = faceCharacters(static_cast<const unsigned char*>(read.data.get()),
                                                         read.size, face.index, missing);
        if (has.empty()) continue;
        std::erase_if(missing,
                      [&has](char32_t c) { return std::find(has.begin(), has.end(), c) != has.end(); });
        found.push_back(std::move(read));
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
                                       &config, ranges_.Data) == nullptr)
            continue;
        face.data.release();
        platform::diagnose("fonts: characters the text face lacks come from " + face.path);
    }
    return atlas.Build();
}
