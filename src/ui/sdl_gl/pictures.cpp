// The five pictures of the main screen as OpenGL textures, made from the PNG files compiled into
// the launcher (resources/).

#include <GL/gl.h>

#include "embedded_files.h"
#include "platform/process.h"
#include "ui/picture_data.h"
#include "ui/resources.h"

Picture backgroundPicture;
Picture communityButtonPicture;
Picture settingsButtonPicture;
Picture newsPicture;
Picture supportButtonPicture;

EmbeddedData embeddedPicture(int resourceId) {
    switch (resourceId) {
    case backgroundResource:
        return {embeddedBackgroundPng, embeddedBackgroundPngSize};
    case communityResource:
        return {embeddedCommunityPng, embeddedCommunityPngSize};
    case settingsResource:
        return {embeddedSettingsPng, embeddedSettingsPngSize};
    case iconResource:
        return {embeddedIconPng, embeddedIconPngSize};
    case newsResource:
        return {embeddedNewsPng, embeddedNewsPngSize};
    case supportResource:
        return {embeddedSupportPng, embeddedSupportPngSize};
    default:
        return {};
    }
}

void loadPicture(int resourceId, Picture& picture) {
    const std::optional<PixelImage> image = pictureResource(resourceId);
    if (!image) return;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    if (texture == 0) {
        platform::diagnose("loadPicture: no texture for picture " + std::to_string(resourceId));
        return;
    }
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // A full mip chain, as the original's texture loader made: the button pictures are drawn
    // smaller than they are (the 100 x 100 gear at 32 x 32) and stay smooth that way.
    const std::vector<PixelImage> levels = mipChain(*image);
    for (std::size_t level = 0; level < levels.size(); ++level) {
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), GL_RGBA, levels[level].width,
                     levels[level].height, 0, GL_RGBA, GL_UNSIGNED_BYTE, levels[level].rgba.data());
    }
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels.size() - 1));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Pictures are drawn whole; clamping keeps the opposite edge from bleeding in.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));

    if (picture.texture != 0) {
        const auto old = static_cast<GLuint>(picture.texture);
        glDeleteTextures(1, &old);
    }
    picture = Picture{texture, image->width, image->height};
}
