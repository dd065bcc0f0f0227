// The five pictures of the main screen as Direct3D 8 textures, made from the launcher's own PNG
// resources (type "PNG", resources/launcher.rc).
//
// [X] FindResource / LoadResource / LockResource on the launcher's module; a missing resource
//     leaves the texture empty
// [X] managed pool, so the textures survive a device reset; a full mip chain
// [X] the image's own size where the device takes it, otherwise scaled up to powers of two
// [ ] D3DX: there is none for this target; stb_image decodes the PNG instead
#include <algorithm>
#include <string>

#include <d3d8.h>
#include <windows.h>

#include "platform/process.h"
#include "ui/picture_data.h"
#include "ui/resources.h"
#include "ui/win32/window_state.h"

Picture backgroundPicture;
Picture communityButtonPicture;
Picture settingsButtonPicture;
Picture newsPicture;
Picture supportButtonPicture;

namespace {

int nextPowerOfTwo(int value) {
    int power = 1;
    while (power < value) power *= 2;
    return power;
}

// Bilinear scaling, enough for the rare device that takes only power-of-two textures.
PixelImage scaled(const PixelImage& image, int width, int height) {
    PixelImage result;
    result.width = width;
    result.height = height;
    result.rgba.resize(static_cast<std::size_t>(width) * height * 4);
    const auto sourceAt = [&](int x, int y, int channel) {
        return static_cast<float>(image.rgba[(static_cast<std::size_t>(y) * image.width + x) * 4 + channel]);
    };
    for (int y = 0; y < height; ++y) {
        const float sy = std::max(0.0f, (static_cast<float>(y) + 0.5f) * static_cast<float>(image.height) /
                                                static_cast<float>(height) -
                                            0.5f);
        const int y0 = std::min(static_cast<int>(sy), image.height - 1);
        const int y1 = std::min(y0 + 1, image.height - 1);
        const float fy = sy - static_cast<float>(y0);
        for (int x = 0; x < width; ++x) {
            const float sx = std::max(0.0f, (static_cast<float>(x) + 0.5f) * static_cast<float>(image.width) /
                                                    static_cast<float>(width) -
                                                0.5f);
            const int x0 = std::min(static_cast<int>(sx), image.width - 1);
            const int x1 = std::min(x0 + 1, image.width - 1);
            const float fx = sx - static_cast<float>(x0);
            for (int c = 0; c < 4; ++c) {
                const float top = sourceAt(x0, y0, c) * (1.0f - fx) + sourceAt(x1, y0, c) * fx;
                const float bottom = sourceAt(x0, y1, c) * (1.0f - fx) + sourceAt(x1, y1, c) * fx;
                result.rgba[(static_cast<std::size_t>(y) * width + x) * 4 + c] =
                    static_cast<unsigned char>(top * (1.0f - fy) + bottom * fy + 0.5f);
            }
        }
    }
    return result;
}

// Devices that take only power-of-two textures get the picture scaled up, as a texture loader
// would; the screens draw each picture whole, so its size in memory does not matter to them.
PixelImage fitToDevice(PixelImage image) {
    D3DCAPS8 caps{};
    if (device->GetDeviceCaps(&caps) < 0 || (caps.TextureCaps & D3DPTEXTURECAPS_POW2) == 0) return image;
    const int width = nextPowerOfTwo(image.width);
    const int height = nextPowerOfTwo(image.height);
    if (width == image.width && height == image.height) return image;
    return scaled(image, width, height);
}

} // namespace

EmbeddedData embeddedPicture(int resourceId) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(resourceId), "PNG");
    if (resource == nullptr) return {};
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return {};
    return {static_cast<const unsigned char*>(LockResource(loaded)), SizeofResource(module, resource)};
}

void loadPicture(int resourceId, Picture& picture) {
    const std::optional<PixelImage> image = pictureResource(resourceId);
    if (!image) return;
    const std::vector<PixelImage> levels = mipChain(fitToDevice(*image));
    IDirect3DTexture8* texture = nullptr;
    if (device->CreateTexture(static_cast<UINT>(levels[0].width), static_cast<UINT>(levels[0].height),
                              static_cast<UINT>(levels.size()), 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                              &texture) < 0) {
        platform::diagnose("loadPicture: no texture for picture " + std::to_string(resourceId));
        return;
    }
    for (std::size_t level = 0; level < levels.size(); ++level) {
        const PixelImage& pixels = levels[level];
        D3DLOCKED_RECT locked{};
        if (texture->LockRect(static_cast<UINT>(level), &locked, nullptr, 0) != D3D_OK) continue;
        for (int y = 0; y < pixels.height; ++y) {
            const unsigned char* source = &pixels.rgba[static_cast<std::size_t>(y) * pixels.width * 4];
            auto* target =
                static_cast<unsigned char*>(locked.pBits) + static_cast<std::size_t>(locked.Pitch) * y;
            // RGBA to the BGRA byte order of D3DFMT_A8R8G8B8.
            for (int x = 0; x < pixels.width; ++x) {
                target[4 * x + 0] = source[4 * x + 2];
                target[4 * x + 1] = source[4 * x + 1];
                target[4 * x + 2] = source[4 * x + 0];
                target[4 * x + 3] = source[4 * x + 3];
            }
        }
        texture->UnlockRect(static_cast<UINT>(level));
    }
    if (picture) reinterpret_cast<IDirect3DTexture8*>(picture.texture)->Release();
    picture = Picture{reinterpret_cast<std::uintptr_t>(texture), image->width, image->height};
}
