// Pixels of the picture resources, decoded and prepared for upload as textures.
#pragma once

#include <optional>
#include <vector>

#include "ui/resources.h"

struct PixelImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgba; // width * height * 4 bytes, rows from the top
};

// Decodes PNG bytes to RGBA; empty when the bytes are missing or no image.
std::optional<PixelImage> decodePicture(EmbeddedData png);
// The picture resource decoded; empty, with a diagnostic, when it is missing or no image.
std::optional<PixelImage> pictureResource(int resourceId);

// The full chain of smaller copies a texture needs for smooth minification: the image itself,
// then each level half the size of the one before (at least 1), down to 1 x 1. Colours are
// averaged by their alpha, so transparent pixels do not darken the edges of an icon.
std::vector<PixelImage> mipChain(const PixelImage& image);
