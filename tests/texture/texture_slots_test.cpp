// Picture slots from ./textures/, drawn through the real renderer offscreen (100 x 100
// pixels; a default canvas covers the 10 x 10 pixels at the centre).

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"
#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"
#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/renderer.h"
#include "platform/videocore/mediainfo_size.h"
#include "support/test_support.h"

namespace {

using Lumetra::Canvas;
using LumetraTest::Frame;
using LumetraTest::near;

const int kSize = 100;

std::vector<uint8_t> solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> px;
    for (int i = 0; i < w * h; ++i)
        px.insert(px.end(), {r, g, b, 255});
    return px;
}

class TextureSlotsTest : public ::testing::Test {
  protected:
    void SetUp() override { LumetraTest::useOffscreenDisplay(kSize, kSize); }

    void start() { renderer = std::make_unique<Lumetra::Renderer>(); }

    Canvas* canvas(int content) {
        canvases.push_back(std::make_unique<Canvas>("CONTENT_TEXTURE_256"));
        canvases.back()->setContentData(content);
        return canvases.back().get();
    }

    Frame draw() {
        std::vector<Canvas*> list;
        for (auto& c : canvases)
            list.push_back(c.get());
        renderer->drawCanvases(list);
        return LumetraTest::readFrame(kSize, kSize);
    }

    float ratio(int content) {
        Canvas* c = canvas(content);
        c->setScalingX(2.0f);
        c->setScalingY(-1.0f);
        Frame f = draw();
        canvases.pop_back();
        int height = 0;
        for (int y = 0; y < kSize; ++y)
            height += f.at(50, y).a > 0 && f.at(50, y).r > 0;
        return static_cast<float>(height) / 20.0f;
    }

    LumetraTest::TempWorkDir work;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::vector<std::unique_ptr<Canvas>> canvases;
};

TEST_F(TextureSlotsTest, SlotNamesHaveThreeDigits) {
    EXPECT_EQ(Lumetra::slotBaseName(0), "./textures/000");
    EXPECT_EQ(Lumetra::slotBaseName(7), "./textures/007");
    EXPECT_EQ(Lumetra::slotBaseName(99), "./textures/099");
    EXPECT_EQ(Lumetra::slotBaseName(100), "./textures/100");
    EXPECT_EQ(Lumetra::slotBaseName(255), "./textures/255");
}

TEST_F(TextureSlotsTest, StillImagesShowUprightAndPngWinsOverGif) {
    // 2 x 2: red green / blue white, top row first
    LumetraTest::writePng("textures/099.png", 2, 2,
                          {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255});
    LumetraTest::writePng("textures/100.png", 1, 1, {0, 255, 255, 255});
    LumetraTest::writeFile("textures/100.gif", "GIF89a not even a real one");
    start();
    canvas(99);
    Frame f = draw();
    EXPECT_TRUE(near(f.at(47, 47), 255, 0, 0));
    EXPECT_TRUE(near(f.at(52, 47), 0, 255, 0));
    EXPECT_TRUE(near(f.at(47, 52), 0, 0, 255));
    EXPECT_TRUE(near(f.at(52, 52), 255, 255, 255));
    canvases[0]->setContentData(100);
    f = draw();
    EXPECT_TRUE(near(f.at(50, 50), 0, 255, 255));
}

TEST_F(TextureSlotsTest, AutomaticHeightFollowsThePicture) {
    LumetraTest::writePng("textures/001.png", 200, 100, solid(200, 100, 255, 255, 255));
    start();
    EXPECT_FLOAT_EQ(ratio(1), 0.5f);
}

TEST_F(TextureSlotsTest, MissingAndBrokenPicturesAreInvisibleSquares) {
    LumetraTest::writeFile("textures/003.png", "this is no picture");
    LumetraTest::writeFile("textures/004.gif", "GIF89a\x01\x00\x01\x00 truncated");
    start();
    for (int slot : {2, 3, 4}) {
        Canvas* c = canvas(slot);
        c->setScalingY(-1.0f);
        Frame f = draw();
        EXPECT_TRUE(near(f.at(50, 50), 0, 0, 0)) << slot;
        canvases.pop_back();
    }
    // An invisible 1x1 picture still has ratio 1: a white canvas behind it stays white.
    Lumetra::Texture missing(2, nullptr, nullptr, nullptr,
                             Lumetra::decodeSlot(2, Lumetra::PictureLimits::forMachine(4096)));
    EXPECT_FLOAT_EQ(missing.getTextureRatio(), 1.0f);
    EXPECT_EQ(missing.getTextureType(), Lumetra::TEX_NONE);
}

TEST_F(TextureSlotsTest, ContentNumbersOutsideTheSlotsAreIgnored) {
    LumetraTest::writePng("textures/000.png", 1, 1, {255, 255, 255, 255});
    start();
    canvas(0);
    for (int bad : {-1, 256, 100000}) {
        Canvas* c = canvas(bad);
        c->setScalingY(-1.0f);
    }
    Frame f = draw();  // the bad ones keep the last bound picture and ratio 1
    EXPECT_TRUE(near(f.at(50, 50), 255, 255, 255));
}

TEST_F(TextureSlotsTest, ClipWhoseSizeCannotBeLearnedIsFaintYellow) {
    LumetraTest::writeFile("textures/005.h264", std::string(1000, '\x42'));
    start();
    canvas(5);
    Frame f = draw();
    EXPECT_TRUE(near(f.at(50, 50), 63, 63, 0, 2));
}

TEST_F(TextureSlotsTest, OnlyTheFirstThreeClipsPlayAFourthIsFaintRed) {
    for (const char* slot : {"003", "009", "012", "200"}) {
        ASSERT_EQ(LumetraTest::runCommand(
                      std::string("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                                  "color=c=white:s=32x16:r=25:d=0.4 -c:v libx264 -pix_fmt yuv420p "
                                  "-f h264 textures/") +
                      slot + ".h264"),
                  0);
    }
    start();
    for (int slot : {3, 9, 12}) {
        Canvas* c = canvas(slot);
        c->setScalingY(-1.0f);  // 32 x 16 clip: half as high as wide
    }
    Frame f = draw();
    EXPECT_FALSE(near(f.at(50, 50), 63, 0, 0, 2));
    canvases.clear();
    canvas(200);
    f = draw();
    EXPECT_TRUE(near(f.at(50, 50), 63, 0, 0, 2));
}

TEST_F(TextureSlotsTest, MediainfoReplyIsParsedStrictly) {
    int w = 7, h = 7;
    EXPECT_TRUE(Lumetra::parseVideoSizeReply("info4lumetra|1280|720|\n", &w, &h));
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    for (const char* bad : {"", "\n", "1280|720|", "info4lumetra||720|", "info4lumetra|0|720|",
                            "info4lumetra|1280|-5|", "info4lumetra|1280"}) {
        w = h = 7;
        EXPECT_FALSE(Lumetra::parseVideoSizeReply(bad, &w, &h)) << bad;
        EXPECT_EQ(w + h, 14) << bad;
    }
}

// Generated with ImageMagick: frames red and blue, each shown 10 hundredths.
void writeTwoFrameGif(const std::string& path) {
    ASSERT_EQ(LumetraTest::runCommand("convert -delay 10 -size 4x4 xc:red xc:blue " + path), 0);
}

// Which colour the centre shows on each of `n` frames.
std::string sequence(const std::function<Frame()>& draw, int n) {
    std::string seen;
    for (int i = 0; i < n; ++i) {
        Frame::Pixel p = draw().at(50, 50);
        seen += p.r > 200 ? 'R' : (p.b > 200 ? 'B' : '.');
    }
    return seen;
}

TEST_F(TextureSlotsTest, GifAdvancesTwoHundredthsPerBind) {
    writeTwoFrameGif("textures/010.gif");
    start();
    canvas(10);
    EXPECT_EQ(sequence([this] { return draw(); }, 22), "RRRRRRBBBBBRRRRRRBBBBB");
}

TEST_F(TextureSlotsTest, EveryBindAdvancesTheClockEvenOfHiddenCanvases) {
    writeTwoFrameGif("textures/010.gif");
    start();
    Canvas* hidden = canvas(10);
    hidden->setShutterSet(255);
    hidden->frameStep();
    hidden->frameStep();  // closed
    Canvas* shown = canvas(10);
    shown->setScalingX(0.5f);
    // Two binds per frame: the visible canvas sees every second clock step.
    EXPECT_EQ(sequence([this] { return draw(); }, 11), "RRRBBRRRBBB");
}

TEST_F(TextureSlotsTest, EmptyDirectoryGivesInvisibleSlotsAndDecodingInParallelChangesNothing) {
    LumetraTest::writePng("textures/000.png", 3, 1, {9, 8, 7, 255, 1, 2, 3, 255, 4, 5, 6, 255});
    writeTwoFrameGif("textures/001.gif");
    LumetraTest::writePng("textures/002.png", 1, 1, {200, 100, 50, 128});
    std::vector<Frame> frames[2];
    for (int run = 0; run < 2; ++run) {
        setenv("LUMETRA_LOAD_THREADS", run == 0 ? "0" : "3", 1);
        start();
        for (int slot = 0; slot < 256; slot += 1) {
            canvases.clear();
            Canvas* c = canvas(slot);
            c->setScalingX(10.0f);
            c->setScalingY(-1.0f);
            frames[run].push_back(draw());
        }
        renderer.reset();
    }
    unsetenv("LUMETRA_LOAD_THREADS");
    for (int slot = 0; slot < 256; ++slot) {
        EXPECT_EQ(frames[0][slot].rgba, frames[1][slot].rgba) << "slot " << slot;
    }
    EXPECT_TRUE(near(frames[0][255].at(50, 50), 0, 0, 0));  // invisible, square
}

}  // namespace
