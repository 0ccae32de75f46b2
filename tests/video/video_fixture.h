#pragma once

// A real offscreen renderer (64 x 36) whose GL context holds the video textures, a player
// built on its EGL handles, and ways to look at what a video texture shows.

#include <gtest/gtest.h>

#include <EGL/egl.h>
#include "platform/gl.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "canvas/renderer.h"
#include "platform/mesa/video/clip_stats.h"
#include "support/test_support.h"
#include "video/clip_maker.h"

namespace VideoTest {

extern const Colour kRed;
extern const Colour kGreen;
extern const Colour kBlue;

class VideoPlayerTest : public ::testing::Test {
  protected:
    static constexpr int kScreenWidth = 64;
    static constexpr int kScreenHeight = 36;

    void SetUp() override;
    // Chooses the display the renderer opens; offscreen unless a test says otherwise.
    virtual void useDisplay();
    void TearDown() override;

    // A texture defined as the picture slots define a video texture.
    GLuint makeVideoTexture(int width, int height);
    // Draws the texture over the whole screen with the video texture coordinates, over
    // black and blended by its alpha when `blend`.
    LumetraTest::Frame drawTexture(GLuint texture, bool blend = false);
    // The clip colour the texture shows below its top band, or null; `upright` tells
    // whether the band is at the top.
    const Colour* shownColour(GLuint texture, bool* upright = nullptr);

    int start(const std::string& clip, GLuint texture);
    std::string clipPath(const std::string& name) { return work.file(name); }
    // Playbacks started since the test began, oldest first.
    std::vector<std::shared_ptr<Lumetra::Platform::Mesa::ClipStats>> newPlaybacks();
    static bool waitFor(const std::function<bool()>& condition, double seconds);
    // Seconds stopPlayer(id) took.
    double timedStop(int id);

    LumetraTest::TempWorkDir work;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::unique_ptr<Lumetra::VideoPlayer> player;
    std::vector<int> started;

  private:
    uint64_t playbacks_before = 0;
};

}  // namespace VideoTest
