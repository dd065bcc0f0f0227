#include "ui/picture_data.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

#include <stb/stb_image.h>

#include "platform/process.h"

namespace {

struct StbFree {
    void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

PixelImage halve(const PixelImage& source) {
    PixelImage half;
    half.width = std::max(1, source.width / 2);
    half.height = std::max(1, source.height / 2);
    half.rgba.resize(static_cast<std::size_t>(half.width) * half.height * 4);
    for (int y = 0; y < half.height; ++y) {
        for (int x = 0; x < half.width; ++x) {
            // A 2 x 2 box, clamped at the edge when the source is 1 wide or high.
            unsigned weighted[3] = {0, 0, 0};
            unsigned alpha = 0;
            for (int dy = 0; dy < 2; ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    const int sx = std::min(x * 2 + dx, source.width - 1);
                    const int sy = std::min(y * 2 + dy, source.height - 1);
                    const unsigned char* p =
                        &source.rgba[(static_cast<std::size_t>(sy) * source.width + sx) * 4];
                    for (int c = 0; c < 3; ++c) weighted[c] += p[c] * unsigned{p[3]};
                    alpha += p[3];
                }
            }
            unsigned char* out = &half.rgba[(static_cast<std::size_t>(y) * half.width + x) * 4];
            for (int c = 0; c < 3; ++c)
                out[c] = static_cast<unsigned char>(alpha == 0 ? 0u : (weighted[c] + alpha / 2) / alpha);
            out[3] = static_cast<unsigned char>((alpha + 2) / 4);
        }
    }
    return half;
}

} // namespace

std::optional<PixelImage> decodePicture(EmbeddedData png) {
    if (png.data == nullptr || png.size == 0 || png.size > static_cast<std::size_t>(INT_MAX))
        return std::nullopt;
    int width = 0;
    int height = 0;
    int channels = 0;
    std::unique_ptr<unsigned char, StbFree> pixels(
        stbi_load_from_memory(png.data, static_cast<int>(png.size), &width, &height, &channels, 4));
    if (!pixels || width <= 0 || height <= 0) return std::nullopt;
    PixelImage image;
    image.width = width;
    image.height = height;
    image.rgba.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * height * 4);
    return image;
}

std::vector<PixelImage> mipChain(const PixelImage& image) {
    std::vector<PixelImage> levels{image};
    while (levels.back().width > 1 || levels.back().height > 1) levels.push_back(halve(levels.back()));
    return levels;
}

std::optional<PixelImage> pictureResource(int resourceId) {
    std::optional<PixelImage> image = decodePicture(embeddedPicture(resourceId));
    if (!image)
        platform::diagnose("loadPicture: picture " + std::to_string(resourceId) +
                           " is missing or not an image");
    return image;
}
