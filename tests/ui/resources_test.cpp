// The pictures and icon fonts compiled into the launcher, and the font atlas and style made from
// them. Needs no display.
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>
#include <stb/stb_image.h>

#include "embedded_files.h"
#include "ui/fonts_and_style.h"
#include "ui/kept_glyphs.h"
#include "ui/picture_data.h"
#include "ui/resources.h"
#include "ui/system_font.h"
#include "ui/text_glyphs.h"

namespace {

struct PictureSize {
    int id;
    int width;
    int height;
};

constexpr PictureSize pictureSizes[] = {
    {backgroundResource, 1062, 589}, {communityResource, 32, 32}, {settingsResource, 100, 100},
    {iconResource, 32, 32},          {newsResource, 48, 48},      {supportResource, 32, 32},
};

const char* const fontAwesome4File = "/usr/share/fonts/truetype/font-awesome/fontawesome-webfont.ttf";

std::vector<unsigned char> readFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::uint32_t bigEndian32(const unsigned char* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// A fresh interface context for each atlas test, destroyed with the test.
class InterfaceContext : public ::testing::Test {
  protected:
    void SetUp() override { context = ImGui::CreateContext(); }
    void TearDown() override { ImGui::DestroyContext(context); }
    ImGuiContext* context = nullptr;
};

using FontAtlasTest = InterfaceContext;

} // namespace

TEST(EmbeddedPictures, every_picture_is_an_rgba_png_of_its_exact_size) {
    for (const PictureSize& expected : pictureSizes) {
        SCOPED_TRACE(expected.id);
        const EmbeddedData png = embeddedPicture(expected.id);
        ASSERT_NE(png.data, nullptr);
        int width = 0, height = 0, channels = 0;
        ASSERT_EQ(stbi_info_from_memory(png.data, static_cast<int>(png.size), &width, &height, &channels), 1);
        EXPECT_EQ(width, expected.width);
        EXPECT_EQ(height, expected.height);
        EXPECT_EQ(channels, 4);
        const std::optional<PixelImage> image = decodePicture(png);
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->width, expected.width);
        EXPECT_EQ(image->height, expected.height);
    }
}

TEST(EmbeddedPictures, icons_have_transparent_corners_and_a_visible_middle) {
    for (const PictureSize& expected : pictureSizes) {
        if (expected.id == backgroundResource) continue;
        SCOPED_TRACE(expected.id);
        const std::optional<PixelImage> image = decodePicture(embeddedPicture(expected.id));
        ASSERT_TRUE(image.has_value());
        const int w = image->width;
        const int h = image->height;
        const auto alpha = [&](int x, int y) {
            return image->rgba[(static_cast<std::size_t>(y) * w + x) * 4 + 3];
        };
        EXPECT_EQ(alpha(0, 0), 0);
        EXPECT_EQ(alpha(w - 1, 0), 0);
        EXPECT_EQ(alpha(0, h - 1), 0);
        EXPECT_EQ(alpha(w - 1, h - 1), 0);
        int opaque = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) opaque += alpha(x, y) == 255;
        EXPECT_GT(opaque, w * h / 5) << "an icon that is mostly empty would not show on its button";
    }
}

TEST(EmbeddedPictures, background_is_opaque_and_dark_where_the_status_lines_go) {
    const std::optional<PixelImage> image = decodePicture(embeddedPicture(backgroundResource));
    ASSERT_TRUE(image.has_value());
    for (std::size_t i = 3; i < image->rgba.size(); i += 4)
        ASSERT_EQ(image->rgba[i], 255) << "pixel " << i / 4;
    // The status, progress and version lines sit at window y 570-650 over the picture stretched
    // to 680 pixels high: picture rows from about 480 down. White and gold text needs them dark.
    double sum = 0;
    int brightest = 0;
    int count = 0;
    for (int y = 480; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            const unsigned char* p = &image->rgba[(static_cast<std::size_t>(y) * image->width + x) * 4];
            const int luma = (p[0] * 3 + p[1] * 6 + p[2]) / 10;
            sum += luma;
            brightest = std::max(brightest, luma);
            ++count;
        }
    }
    EXPECT_LT(sum / count, 40.0);
    EXPECT_LT(brightest, 90);
}

TEST(EmbeddedPictures, unknown_resource_numbers_are_empty) {
    for (int id : {0, -1, 101, 105, 108, 112}) {
        const EmbeddedData data = embeddedPicture(id);
        EXPECT_EQ(data.data, nullptr) << id;
        EXPECT_EQ(data.size, 0u) << id;
    }
}

TEST(PictureData, broken_or_missing_bytes_decode_to_nothing) {
    const unsigned char garbage[] = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(decodePicture({garbage, sizeof garbage}).has_value());
    EXPECT_FALSE(decodePicture({}).has_value());
    const EmbeddedData icon = embeddedPicture(iconResource);
    EXPECT_FALSE(decodePicture({icon.data, icon.size / 2}).has_value()) << "a truncated PNG";
}

TEST(PictureData, mip_chain_halves_down_to_one_pixel) {
    const std::optional<PixelImage> background = decodePicture(embeddedPicture(backgroundResource));
    ASSERT_TRUE(background.has_value());
    const std::vector<PixelImage> levels = mipChain(*background);
    // 1062 x 589, 531 x 294, 265 x 147, 132 x 73, 66 x 36, 33 x 18, 16 x 9, 8 x 4, 4 x 2, 2 x 1, 1 x 1
    ASSERT_EQ(levels.size(), 11u);
    for (std::size_t k = 1; k < levels.size(); ++k) {
        EXPECT_EQ(levels[k].width, std::max(1, levels[k - 1].width / 2));
        EXPECT_EQ(levels[k].height, std::max(1, levels[k - 1].height / 2));
        EXPECT_EQ(levels[k].rgba.size(), static_cast<std::size_t>(levels[k].width) * levels[k].height * 4);
    }
    EXPECT_EQ(levels.back().width, 1);
    EXPECT_EQ(levels.back().height, 1);
    EXPECT_EQ(mipChain(PixelImage{1, 1, {1, 2, 3, 4}}).size(), 1u);
}

TEST(PictureData, mip_chain_keeps_edge_colours_next_to_transparent_pixels) {
    // An opaque orange pixel beside a transparent black one: the smaller level is half
    // transparent orange, not a darker brown.
    const PixelImage image{2, 1, {255, 128, 0, 255, 0, 0, 0, 0}};
    const std::vector<PixelImage> levels = mipChain(image);
    ASSERT_EQ(levels.size(), 2u);
    EXPECT_EQ(levels[1].rgba, (std::vector<unsigned char>{255, 128, 0, 128}));
}

TEST(EmbeddedFonts, font_awesome_5_solid_is_embedded_whole) {
    EXPECT_EQ(embeddedFontAwesome5SolidSize, 202744u);
    // TrueType outlines start with the version 1.0 tag.
    EXPECT_EQ(bigEndian32(embeddedFontAwesome5Solid), 0x00010000u);
}

TEST(EmbeddedFonts, font_awesome_4_is_in_the_compressed_form_of_165548_bytes) {
    ASSERT_GT(embeddedFontAwesome4CompressedSize, 22u);
    EXPECT_EQ(bigEndian32(embeddedFontAwesome4Compressed), 0x57BC0000u);
    EXPECT_EQ(bigEndian32(embeddedFontAwesome4Compressed + 4), 0u);
    EXPECT_EQ(bigEndian32(embeddedFontAwesome4Compressed + 8), 165548u);
    EXPECT_LT(embeddedFontAwesome4CompressedSize, 165548u);
    const unsigned char* end = embeddedFontAwesome4Compressed + embeddedFontAwesome4CompressedSize;
    EXPECT_EQ(end[-6], 0x05);
    EXPECT_EQ(end[-5], 0xFA);
}

TEST_F(FontAtlasTest, the_atlas_expands_font_awesome_4_to_the_original_bytes) {
    ImFontConfig config;
    ImFont* font = ImGui::GetIO().Fonts->AddFontFromMemoryCompressedTTF(
        embeddedFontAwesome4Compressed, static_cast<int>(embeddedFontAwesome4CompressedSize), 16.0f, &config);
    ASSERT_NE(font, nullptr);
    const ImFontConfig& added = ImGui::GetIO().Fonts->ConfigData.back();
    ASSERT_EQ(added.FontDataSize, 165548);
    const std::vector<unsigned char> original = readFile(fontAwesome4File);
    if (original.empty()) GTEST_SKIP() << fontAwesome4File << " is not installed here";
    ASSERT_EQ(original.size(), 165548u);
    EXPECT_EQ(std::memcmp(added.FontData, original.data(), original.size()), 0);
    EXPECT_TRUE(ImGui::GetIO().Fonts->Build());
}

TEST_F(FontAtlasTest, setup_builds_one_font_with_text_and_both_icon_sets) {
    setupFontsAndStyle();
    ImGuiIO& io = ImGui::GetIO();
    ASSERT_TRUE(io.Fonts->Build());
    ASSERT_EQ(io.Fonts->Fonts.Size, 1) << "icon fonts are merged, not separate fonts";
    ImFont* font = io.Fonts->Fonts[0];
    EXPECT_NE(font->FindGlyphNoFallback(U'A'), nullptr);
    EXPECT_NE(font->FindGlyphNoFallback(0xE9), nullptr) << "Latin-1 letters are in the default range";
    EXPECT_NE(font->FindGlyphNoFallback(0xF00D), nullptr) << "close";
    EXPECT_NE(font->FindGlyphNoFallback(0xF2D1), nullptr) << "minimise";
    EXPECT_EQ(io.IniFilename, nullptr);

    // The sources as they are added, before the first build makes the icons fixed pictures.
    ImFontAtlas added;
    ASSERT_TRUE(addLauncherFonts(added, boldTextFont()) && added.Build());
    ASSERT_EQ(added.ConfigData.Size, 3);
    const ImFontConfig& solid = added.ConfigData[1];
    EXPECT_TRUE(solid.MergeMode);
    EXPECT_TRUE(solid.PixelSnapH);
    // Dear ImGui 1.86 copies data it is not given to own, so the copy is what the atlas holds.
    ASSERT_EQ(solid.FontDataSize, 202744);
    EXPECT_EQ(std::memcmp(solid.FontData, embeddedFontAwesome5Solid, embeddedFontAwesome5SolidSize), 0);
    EXPECT_EQ(solid.OversampleH, 3);
    EXPECT_EQ(solid.OversampleV, 1);
    EXPECT_EQ(solid.SizePixels, 16.0f);
    EXPECT_EQ(solid.GlyphRanges[0], 0xF000);
    EXPECT_EQ(solid.GlyphRanges[1], 0xF950);
    EXPECT_EQ(solid.GlyphRanges[2], 0);

    const ImFontConfig& legacy = added.ConfigData[2];
    EXPECT_TRUE(legacy.MergeMode);
    EXPECT_TRUE(legacy.PixelSnapH);
    EXPECT_EQ(legacy.OversampleH, 2);
    EXPECT_EQ(legacy.OversampleV, 2);
    EXPECT_EQ(legacy.SizePixels, 16.0f);
    EXPECT_EQ(legacy.FontDataSize, 165548);
    EXPECT_EQ(legacy.GlyphRanges[0], 0xF000);
    EXPECT_EQ(legacy.GlyphRanges[1], 0xF3FF);
    EXPECT_EQ(legacy.GlyphRanges[2], 0);

    // Where both icon fonts have a code point, the one added first wins: the glyph U+F00D comes
    // from Font Awesome 5, whose cross is wider than FontAwesome 4's at the same size.
    const ImFontGlyph* close = font->FindGlyphNoFallback(0xF00D);
    ImFontAtlas only4;
    ImFontConfig config4;
    ImFont* font4 = only4.AddFontFromMemoryCompressedTTF(embeddedFontAwesome4Compressed,
                                                         static_cast<int>(embeddedFontAwesome4CompressedSize),
                                                         16.0f, &config4, legacy.GlyphRanges);
    ImFontAtlas only5;
    ImFontConfig config5;
    config5.FontDataOwnedByAtlas = false;
    ImFont* font5 = only5.AddFontFromMemoryTTF(const_cast<unsigned char*>(embeddedFontAwesome5Solid),
                                               static_cast<int>(embeddedFontAwesome5SolidSize), 16.0f,
                                               &config5, solid.GlyphRanges);
    ASSERT_TRUE(only4.Build() && only5.Build());
    ASSERT_NE(font4->FindGlyphNoFallback(0xF00D)->AdvanceX, font5->FindGlyphNoFallback(0xF00D)->AdvanceX);
    EXPECT_EQ(close->AdvanceX, font5->FindGlyphNoFallback(0xF00D)->AdvanceX);
}

TEST_F(FontAtlasTest, text_comes_from_the_bold_arial_match_at_14_pixels) {
    const SystemFontFile bold = boldTextFont();
    if (bold.path.empty()) GTEST_SKIP() << "no bold Arial substitute installed (fonts-liberation)";
    ImFontAtlas atlas;
    ASSERT_TRUE(addLauncherFonts(atlas, bold));
    const ImFontConfig& text = atlas.ConfigData[0];
    EXPECT_EQ(text.SizePixels, 14.0f);
    EXPECT_EQ(text.OversampleH, 1);
    EXPECT_EQ(text.OversampleV, 1);
    EXPECT_TRUE(text.PixelSnapH);
    EXPECT_FALSE(text.MergeMode);
    EXPECT_EQ(text.GlyphRanges, nullptr) << "the library's default range";
    EXPECT_NE(std::string(text.Name).find("Bold"), std::string::npos) << text.Name;
    setupFontsAndStyle();
    ImGuiIO& io = ImGui::GetIO();
    ASSERT_TRUE(io.Fonts->Build());
    EXPECT_EQ(io.Fonts->Fonts[0]->FontSize, 14.0f);
    EXPECT_NE(io.Fonts->Fonts[0]->FindGlyphNoFallback(U'\xFF'), nullptr) << "kept from the first build";
}

TEST_F(FontAtlasTest, news_characters_come_from_the_text_face_or_else_a_system_face) {
    const SystemFontFile bold = boldTextFont();
    if (bold.path.empty()) GTEST_SKIP() << "no bold Arial substitute installed (fonts-liberation)";
    ImFontAtlas& atlas = *ImGui::GetIO().Fonts;
    ASSERT_TRUE(addLauncherFonts(atlas, bold) && atlas.Build());
    // Later builds draw only what they add and put back what earlier ones drew.
    const auto picture = [&atlas](ImWchar c) {
        const ImFontGlyph& glyph = *atlas.Fonts[0]->FindGlyphNoFallback(c);
        const auto texel = [](float uv, int size) { return std::lround(uv * static_cast<float>(size)); };
        const long x = texel(glyph.U0, atlas.TexWidth);
        const long width = texel(glyph.U1, atlas.TexWidth) - x;
        std::vector<unsigned char> pixels;
        for (long row = texel(glyph.V0, atlas.TexHeight); row < texel(glyph.V1, atlas.TexHeight); ++row)
            pixels.insert(pixels.end(), atlas.TexPixelsAlpha8 + row * atlas.TexWidth + x,
                          atlas.TexPixelsAlpha8 + row * atlas.TexWidth + x + width);
        return std::tuple(glyph.X0, glyph.Y0, glyph.X1, glyph.Y1, glyph.AdvanceX, width, pixels);
    };
    const auto close = picture(0xF00D);
    const auto cog = picture(0xF013);
    const auto e = picture(U'\xE9');
    keepAtlasGlyphs(atlas);
    EXPECT_EQ(atlas.ConfigData.Size, 1) << "the icon fonts' sources leave the atlas";
    const float closeAdvance = atlas.Fonts[0]->FindGlyphNoFallback(0xF00D)->AdvanceX;
    std::vector<std::vector<char32_t>> asked;
    const auto find = [&asked](const std::vector<char32_t>& missing) {
        asked.push_back(missing);
        return fallbackFonts(missing);
    };
    TextGlyphs glyphs;
    EXPECT_TRUE(glyphs.note("\xD0\x9F\xCE\xA3\xC4\xB0\xEF\x80\x8D")); // П Σ İ and the close icon
    ASSERT_TRUE(glyphs.growAtlas(atlas));
    EXPECT_FALSE(glyphs.growthDue());
    EXPECT_FALSE(glyphs.fallbacksWanted()) << "the text face has Cyrillic, Greek and Latin Extended";
    const ImFont* font = atlas.Fonts[0];
    for (const ImWchar c : {ImWchar{0x041F}, ImWchar{0x03A3}, ImWchar{0x0130}})
        EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << c;
    EXPECT_EQ(font->FindGlyphNoFallback(0xF00D)->AdvanceX, closeAdvance) << "icons stay the icon font's";
    EXPECT_EQ(picture(0xF00D), close);
    EXPECT_EQ(picture(0xF013), cog);
    EXPECT_EQ(picture(U'\xE9'), e);
    const auto pe = picture(0x041F);

    // Latin Extended-A, Greek and Cyrillic, more than one step holds.
    std::string many;
    char utf8[5];
    for (const auto& [first, last] : {std::pair(0x100u, 0x17Fu), std::pair(0x391u, 0x3A1u),
                                      std::pair(0x3A3u, 0x3C9u), std::pair(0x400u, 0x45Fu)})
        for (unsigned c = first; c <= last; ++c) many += ImTextCharToUtf8(utf8, c);
    EXPECT_TRUE(glyphs.note(many));
    ASSERT_TRUE(glyphs.growAtlas(atlas));
    EXPECT_TRUE(glyphs.growthDue()) << "one step draws at most " << TextGlyphs::charactersPerStep;
    ASSERT_TRUE(glyphs.growAtlas(atlas));
    EXPECT_FALSE(glyphs.growthDue());
    EXPECT_NE(font->FindGlyphNoFallback(0x45F), nullptr);
    EXPECT_EQ(picture(0x041F), pe);

    EXPECT_TRUE(glyphs.note("\xE9\x9D\x99\xE3\x81\x8B")); // 静か
    EXPECT_FALSE(glyphs.note("\xE9\x9D\x99")) << "nothing new";
    ASSERT_TRUE(glyphs.growAtlas(atlas));
    EXPECT_EQ(font->FindGlyph(0x9759), font->FallbackGlyph) << "until the system's faces come in";
    ASSERT_TRUE(glyphs.fallbacksWanted());
    glyphs.searchFallbacks(find);
    ASSERT_TRUE(glyphs.addFallbacks(atlas));
    ASSERT_TRUE(glyphs.growthDue()) << "the characters the faces were found for";
    ASSERT_TRUE(glyphs.growAtlas(atlas));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (std::vector<char32_t>{0x304B, 0x9759}));
    EXPECT_NE(font->FindGlyphNoFallback(0x9759), nullptr) << "from the system's CJK face (fonts-noto-cjk)";
    EXPECT_NE(font->FindGlyphNoFallback(0x041F), nullptr);
    EXPECT_EQ(atlas.ConfigData.Size, 2) << "text, one CJK face";
    atlas.ClearTexData(); // as a renderer that lost its device builds the atlas again
    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    atlas.GetTexDataAsAlpha8(&pixels, &width, &height);
    EXPECT_EQ(picture(0xF00D), close);
    EXPECT_EQ(picture(0x041F), pe);

    // A character no face of its search had is drawn once a later search brings a face with it.
    ImFontAtlas fresh;
    ASSERT_TRUE(addLauncherFonts(fresh, bold) && fresh.Build());
    TextGlyphs later;
    EXPECT_TRUE(later.note("\xE4\xB8\x80")); // 一
    ASSERT_TRUE(later.growAtlas(fresh));
    later.searchFallbacks(
        [&bold](const std::vector<char32_t>&) { return std::vector<SystemFontFile>{bold}; });
    ASSERT_TRUE(later.addFallbacks(fresh));
    EXPECT_FALSE(later.growthDue()) << "the text face has no Han";
    EXPECT_TRUE(later.note("\xE4\xB8\xAD")); // 中
    ASSERT_TRUE(later.growAtlas(fresh));
    later.searchFallbacks(fallbackFonts);
    ASSERT_TRUE(later.addFallbacks(fresh));
    while (later.growthDue()) ASSERT_TRUE(later.growAtlas(fresh));
    EXPECT_NE(fresh.Fonts[0]->FindGlyphNoFallback(0x4E2D), nullptr);
    EXPECT_NE(fresh.Fonts[0]->FindGlyphNoFallback(0x4E00), nullptr) << "searched before, drawn now";

    // A server's texts cannot make the atlas unbounded.
    TextGlyphs flooded;
    std::string everything;
    for (unsigned c = 0x4E00; c < 0x4E00 + TextGlyphs::maximumCharacters + 100; ++c)
        everything += ImTextCharToUtf8(utf8, c);
    EXPECT_TRUE(flooded.note(everything));
    EXPECT_EQ(flooded.needed().size(), TextGlyphs::maximumCharacters);
}

TEST(SystemFont, the_arial_bold_match_is_a_bold_font_file) {
    const SystemFontFile bold = boldTextFont();
    if (bold.path.empty()) GTEST_SKIP() << "no bold Arial substitute installed (fonts-liberation)";
    EXPECT_NE(bold.path.find("Bold"), std::string::npos) << bold.path;
    EXPECT_FALSE(readFile(bold.path.c_str()).empty());
}

TEST_F(FontAtlasTest, without_a_text_font_the_built_in_font_still_carries_the_icons) {
    ImGuiIO& io = ImGui::GetIO();
    EXPECT_TRUE(addLauncherFonts(*io.Fonts, SystemFontFile{}));
    ASSERT_TRUE(io.Fonts->Build());
    ASSERT_EQ(io.Fonts->Fonts.Size, 1);
    EXPECT_NE(std::string(io.Fonts->ConfigData[0].Name).find("ProggyClean"), std::string::npos);
    ImFont* font = io.Fonts->Fonts[0];
    EXPECT_NE(font->FindGlyphNoFallback(U'A'), nullptr);
    EXPECT_NE(font->FindGlyphNoFallback(0xF00D), nullptr);
    EXPECT_NE(font->FindGlyphNoFallback(0xF2D1), nullptr);
}

TEST_F(FontAtlasTest, an_unreadable_text_font_falls_back_to_the_built_in_font) {
    ImGuiIO& io = ImGui::GetIO();
    // The atlas would stop on a path it cannot read; the icons must not be left without a base.
    EXPECT_TRUE(addLauncherFonts(*io.Fonts, SystemFontFile{"/nonexistent/arialbd.ttf", 0, {}}));
    ASSERT_TRUE(io.Fonts->Build());
    ASSERT_EQ(io.Fonts->Fonts.Size, 1);
    EXPECT_NE(io.Fonts->Fonts[0]->FindGlyphNoFallback(0xF00D), nullptr);
}

TEST_F(FontAtlasTest, style_holds_the_launcher_sizes_and_colours) {
    setupFontsAndStyle();
    const ImGuiStyle& style = ImGui::GetStyle();
    EXPECT_EQ(style.Alpha, 1.0f);
    EXPECT_EQ(style.WindowPadding.x, 8.0f);
    EXPECT_EQ(style.WindowRounding, 5.0f);
    EXPECT_EQ(style.WindowTitleAlign.x, 0.5f);
    EXPECT_EQ(style.FramePadding.x, 4.0f);
    EXPECT_EQ(style.FramePadding.y, 3.0f);
    EXPECT_EQ(style.FrameRounding, 5.0f);
    EXPECT_EQ(style.ItemSpacing.x, 8.0f);
    EXPECT_EQ(style.ItemSpacing.y, 4.0f);
    EXPECT_EQ(style.ItemInnerSpacing.x, 4.0f);
    EXPECT_EQ(style.ScrollbarSize, 13.0f);
    EXPECT_EQ(style.ScrollbarRounding, 12.0f);
    EXPECT_EQ(style.ButtonTextAlign.y, 0.5f);

    const auto bytes = [](const ImVec4& c) { return ImGui::ColorConvertFloat4ToU32(c); };
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_Text]), IM_COL32(255, 255, 255, 255));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_WindowBg]), IM_COL32(255, 255, 255, 255));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_FrameBg]), IM_COL32(255, 153, 0, 125));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_ScrollbarGrab]), IM_COL32(42, 152, 223, 255));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_CheckMark]), IM_COL32(0, 255, 0, 255));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_Button]), IM_COL32(255, 215, 0, 100));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_ButtonHovered]), IM_COL32(255, 215, 0, 150));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_ButtonActive]), IM_COL32(255, 215, 0, 255));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_TabActive]), IM_COL32(255, 215, 0, 255));
    EXPECT_FLOAT_EQ(style.Colors[ImGuiCol_MenuBarBg].x, 0.14f);

    // Colours the launcher does not set keep the dark preset.
    ImGuiStyle dark;
    ImGui::StyleColorsDark(&dark);
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_Header]), bytes(dark.Colors[ImGuiCol_Header]));
    EXPECT_EQ(bytes(style.Colors[ImGuiCol_Border]), bytes(dark.Colors[ImGuiCol_Border]));
}
