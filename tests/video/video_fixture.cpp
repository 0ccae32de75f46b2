#include "video/video_fixture.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/drawing.h"

namespace VideoTest {

using Lumetra::Platform::Mesa::ClipStats;

const Colour kRed = {"red", 255, 0, 0};
const Colour kGreen = {"lime", 0, 255, 0};
const Colour kBlue = {"blue", 0, 0, 255};

void VideoPlayerTest::useDisplay() {
    LumetraTest::useOffscreenDisplay(kScreenWidth, kScreenHeight);
}

void VideoPlayerTest::SetUp() {
    useDisplay();
    renderer = std::make_unique<Lumetra::Renderer>();
    EGLDisplay display = eglGetCurrentDisplay();
    EGLSurface surface = eglGetCurrentSurface(EGL_DRAW);
    EGLContext context = eglGetCurrentContext();
    ASSERT_NE(context, EGL_NO_CONTEXT);
    player = std::make_unique<Lumetra::VideoPlayer>(&display, &surface, &context);
    auto earlier = ClipStats::all();
    playbacks_before = earlier.empty() ? 0 : earlier.back()->number;
}

void VideoPlayerTest::TearDown() {
    if (player) {
        player->sendStopSignal();
        for (int id : started) {
            player->stopPlayer(id);
        }
    }
    player.reset();
    renderer.reset();
}

GLuint VideoPlayerTest::makeVideoTexture(int width, int height) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return texture;
}

LumetraTest::Frame VideoPlayerTest::drawTexture(GLuint texture, bool blend) {
    static const GLfloat quad[] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
    // Bottom-left, bottom-right, top-left, top-right, as the picture slots draw video.
    static const GLfloat coordinates[] = {0, 0, 1, 0, 0, 1, 1, 1};
    static const GLfloat identity[] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    static const GLfloat white[] = {1, 1, 1, 1};  // texels shown as they are
    glViewport(0, 0, kScreenWidth, kScreenHeight);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (blend) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    } else {
        glDisable(GL_BLEND);
    }
    glBindTexture(GL_TEXTURE_2D, texture);
    Lumetra::Platform::setVertices(quad);
    Lumetra::Platform::setTexCoords(coordinates);
    Lumetra::Platform::setColor(white);
    Lumetra::Platform::setTransform(identity);
    Lumetra::Platform::drawQuad();
    return LumetraTest::readFrame(kScreenWidth, kScreenHeight);
}

const Colour* VideoPlayerTest::shownColour(GLuint texture, bool* upright) {
    LumetraTest::Frame frame = drawTexture(texture);
    // Rows top first: the band covers the top quarter of the picture.
    LumetraTest::Frame::Pixel top = frame.at(kScreenWidth / 2, kScreenHeight / 8);
    LumetraTest::Frame::Pixel body = frame.at(kScreenWidth / 2, kScreenHeight * 5 / 8);
    if (upright) {
        *upright = LumetraTest::near(top, 255, 255, 255, 40);
    }
    for (const Colour* c : {&kRed, &kGreen, &kBlue}) {
        if (LumetraTest::near(body, c->r, c->g, c->b, 40)) {
            return c;
        }
    }
    return nullptr;
}

int VideoPlayerTest::start(const std::string& clip, GLuint texture) {
    int id = player->startFreePlayer(clip, &texture);
    if (id > 0) {
        started.push_back(id);
    }
    return id;
}

std::vector<std::shared_ptr<ClipStats>> VideoPlayerTest::newPlaybacks() {
    return ClipStats::since(playbacks_before);
}

bool VideoPlayerTest::waitFor(const std::function<bool()>& condition, double seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

double VideoPlayerTest::timedStop(int id) {
    auto begin = std::chrono::steady_clock::now();
    player->stopPlayer(id);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

}  // namespace VideoTest
