// The OpenGL ES 2 and ES 1.x drawing paths must give the same picture, byte for byte: one
// rich show (rings of both zoom types, turns, stacking, colour and alpha blending, strobe,
// error textures, a still, a GIF) drawn by a renderer of each kind on the offscreen display.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/renderer.h"
#include "gif/gif_builder.h"
#include "support/test_support.h"

namespace {

using Lumetra::Canvas;
using LumetraTest::Frame;

const int kWidth = 320;
const int kHeight = 180;
const int kFramesPerZoomType = 3;

struct Look {
    int content;
    float x, y, sx, sy, rotation, speed, zoom, rotation_all, speed_all;
    unsigned int number;
    float r, g, b, alpha;
    int shutter;
};

// Turns and speeds that are not whole fractions of a turn, so that edges fall between
// pixel centres in ever new places.
const Look kShow[] = {
    {0, 0.0f, 0.0f, 4.0f, -1.0f, 33.0f, 1.7f, 0.0f, 0.0f, 0.0f, 0, 1, 1, 1, 1, 0},
    {0, 1.0f, -0.5f, 0.7f, 0.7f, 11.0f, -2.3f, 3.3f, 17.0f, 4.1f, 7, 1, 0.5f, 0.25f, 0.6f, 0},
    {1, -4.0f, 1.5f, 1.1f, -1.0f, 0.0f, 0.0f, 2.0f, 5.0f, -3.3f, 5, 1, 1, 1, 0.8f, 0},
    {2, 5.5f, 2.0f, 1.3f, 0.9f, 71.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0, 1, 1, 1, 1, 0},
    {9, -6.0f, -2.0f, 2.0f, 2.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 3, 1, 1, 1, 1, 0},
    {0, 3.0f, 3.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 3, 0.2f, 1, 0.4f, 0.5f, 0},
    {0, -2.5f, 2.5f, 0.6f, 0.6f, 45.0f, 0.0f, 1.5f, 0.0f, 9.0f, 4, 0.8f, 0.3f, 1, 1, 200},
    {1, 7.0f, -3.0f, 1.0f, 1.0f, 0.0f, 5.0f, 0.0f, 0.0f, 0.0f, 0, 1.5f, -0.5f, 1, 0.7f, 0},
};

class GlesAgreement : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!LumetraTest::gles1Offered()) {
            GTEST_SKIP() << "no OpenGL ES 1.x here (this build or driver lacks it)";
        }
        LumetraTest::useOffscreenDisplay(kWidth, kHeight);
        // 000: 3x2 still with a half-transparent texel; 001: 3x2 GIF of two frames, one
        // transparent index; 002: not a clip (faint yellow); 009: missing (invisible).
        LumetraTest::writePng(work.file("textures/000.png"), 3, 2,
                              {255, 0,   0, 255, 0, 255, 0,   128, 0,  0,  255, 255,  //
                               255, 255, 0, 255, 0, 255, 255, 255, 90, 60, 30,  200});
        std::vector<LumetraTest::GifCode> first = LumetraTest::literalCodes({0, 1, 2, 3, 2, 1}, 2);
        std::vector<LumetraTest::GifCode> second = LumetraTest::literalCodes({3, 3, 0, 1, 2, 0}, 2);
        LumetraTest::GifBuilder()
            .screen(3, 2, 1)
            .colorTable(4)
            .graphicControl(4, 2)
            .image(0, 0, 3, 2, -1, false, 2, LumetraTest::packCodes(first))
            .graphicControl(4)
            .image(0, 0, 3, 2, -1, false, 2, LumetraTest::packCodes(second))
            .trailer()
            .write(work.file("textures/001.gif"));
        LumetraTest::writeFile(work.file("textures/002.h264"), "not a clip");
    }

    void TearDown() override { unsetenv("LUMETRA_GLES"); }

    // Every frame of the show, both zoom types, as drawn with OpenGL ES `version`.
    std::vector<Frame> drawShow(int version) {
        LumetraTest::useGlesVersion(version);
        auto renderer = std::make_unique<Lumetra::Renderer>();
        std::vector<std::unique_ptr<Canvas>> canvases;
        std::vector<Canvas*> list;
        for (const Look& look : kShow) {
            canvases.push_back(std::make_unique<Canvas>("CONTENT_TEXTURE_256"));
            Canvas* c = canvases.back().get();
            c->setContentData(look.content);
            c->setPositionX(look.x);
            c->setPositionY(look.y);
            c->setScalingX(look.sx);
            c->setScalingY(look.sy);
            c->setRotation(look.rotation);
            c->setSpeed(look.speed);
            c->setZoom(look.zoom);
            c->setRotationAll(look.rotation_all);
            c->setSpeedAll(look.speed_all);
            c->setNumber(look.number);
            c->setR(look.r);
            c->setG(look.g);
            c->setB(look.b);
            c->setAlpha(look.alpha);
            c->setShutterSet(look.shutter);
            list.push_back(c);
        }
        std::vector<Frame> frames;
        for (int zoom_type = 1; zoom_type <= 2; ++zoom_type) {
            renderer->setZoom(zoom_type);
            for (int i = 0; i < kFramesPerZoomType; ++i) {
                for (int step = 0; step < 7; ++step) {  // the strobe flips every few steps
                    for (Canvas* c : list) {
                        c->frameStep();
                    }
                }
                renderer->drawCanvases(list);
                frames.push_back(LumetraTest::readFrame(kWidth, kHeight));
            }
        }
        return frames;
    }

    LumetraTest::TempWorkDir work;
};

TEST_F(GlesAgreement, BothPathsDrawTheSameBytes) {
    const std::vector<Frame> es1 = drawShow(1);
    const std::vector<Frame> es2 = drawShow(2);
    ASSERT_EQ(es1.size(), es2.size());
    for (size_t f = 0; f < es1.size(); ++f) {
        int differing = 0;
        int first = -1;
        for (size_t i = 0; i < es1[f].rgba.size(); ++i) {
            if (es1[f].rgba[i] != es2[f].rgba[i]) {
                first = first < 0 ? static_cast<int>(i) : first;
                ++differing;
            }
        }
        EXPECT_EQ(differing, 0) << "frame " << f << ", first at pixel (" << (first / 4) % kWidth
                                << ", " << (first / 4) / kWidth << ")";
    }
    // The show must have drawn something of every kind for the comparison to mean much.
    const Frame& last = es2.back();
    int lit = 0;
    for (size_t i = 0; i < last.rgba.size(); i += 4) {
        lit += (last.rgba[i] | last.rgba[i + 1] | last.rgba[i + 2]) != 0;
    }
    EXPECT_GT(lit, kWidth * kHeight / 10);
}

}  // namespace
