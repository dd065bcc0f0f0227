// Pictures made into OpenGL textures. Needs a display (Xvfb); skipped without one.
#include <cstdlib>
#include <memory>
#include <vector>

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include "ui/picture_data.h"
#include "ui/resources.h"

#if defined(__SANITIZE_ADDRESS__)
#define LEAK_CHECKED_BUILD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LEAK_CHECKED_BUILD 1
#endif
#endif

namespace {

class PictureTexture : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') GTEST_SKIP() << "no display";
#ifdef LEAK_CHECKED_BUILD
        // SDL's D-Bus connection and Mesa's unloaded driver keep memory the leak checker would
        // report at exit; the texture code itself is checked in the plain build.
        GTEST_SKIP() << "display drivers leak at exit under the leak checker";
#endif
        if (SDL_Init(SDL_INIT_VIDEO) != 0) GTEST_SKIP() << SDL_GetError();
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
        window = SDL_CreateWindow("pictures", 0, 0, 64, 64, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
        if (window == nullptr) GTEST_SKIP() << SDL_GetError();
        context = SDL_GL_CreateContext(window);
        if (context == nullptr) GTEST_SKIP() << SDL_GetError();
        SDL_GL_MakeCurrent(window, context);
    }
    void TearDown() override {
        if (context != nullptr) SDL_GL_DeleteContext(context);
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_Quit();
    }
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
};

} // namespace

TEST_F(PictureTexture, each_picture_becomes_a_texture_with_its_pixels_and_a_full_mip_chain) {
    const int ids[] = {backgroundResource, communityResource, settingsResource, newsResource,
                       supportResource};
    for (std::size_t k = 0; k < std::size(ids); ++k) {
        SCOPED_TRACE(ids[k]);
        // Local pictures: the launcher's globals belong to the other interface tests.
        Picture picture;
        loadPicture(ids[k], picture);
        ASSERT_TRUE(picture);
        const std::optional<PixelImage> image = decodePicture(embeddedPicture(ids[k]));
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(picture.width, image->width);
        EXPECT_EQ(picture.height, image->height);

        glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(picture.texture));
        std::vector<unsigned char> pixels(image->rgba.size());
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        EXPECT_EQ(pixels, image->rgba);
        // The texture is complete only when every level down to 1 x 1 is there; an incomplete one
        // draws as nothing.
        const GLint last = static_cast<GLint>(mipChain(*image).size() - 1);
        GLint width = 0, height = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, last, GL_TEXTURE_WIDTH, &width);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, last, GL_TEXTURE_HEIGHT, &height);
        EXPECT_EQ(width, 1);
        EXPECT_EQ(height, 1);
        GLint minFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        EXPECT_EQ(minFilter, GL_LINEAR_MIPMAP_LINEAR);
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(PictureTexture, an_unknown_picture_leaves_the_texture_empty) {
    Picture picture;
    loadPicture(105, picture);
    EXPECT_FALSE(picture);
    EXPECT_EQ(picture.width, 0);
    EXPECT_EQ(picture.height, 0);
}
