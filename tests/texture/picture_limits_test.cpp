// Pictures and clips that claim more than the GL or the memory can take, files that are
// no regular files, and an outside tool that hangs: start-up stays bounded and safe.
// Drawn through the real renderer offscreen; the hostile files are made here.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/renderer.h"
#include "platform/videocore/mediainfo_size.h"
#include "support/test_support.h"

namespace {

using Lumetra::Canvas;
using LumetraTest::Frame;
using LumetraTest::near;

const int kSize = 100;

std::string le16(int v) {
    return std::string{static_cast<char>(v & 0xff), static_cast<char>(v >> 8)};
}

// A GIF screen with a two-colour global table.
std::string gifScreen(int width, int height) {
    return "GIF89a" + le16(width) + le16(height) + std::string("\x80\0\0", 3) +
           std::string("\xff\xff\xff\0\0\0", 6);
}

// One 1x1 image at the top left, optionally after a graphic control with a delay.
std::string gifDot(int delay) {
    std::string image = "," + le16(0) + le16(0) + le16(1) + le16(1) + std::string(1, '\0') +
                        std::string("\x02\x02\x44\x01\x00", 5);
    if (delay == 0) {
        return image;
    }
    return std::string("\x21\xf9\x04\x00", 4) + le16(delay) + std::string("\0\0", 2) + image;
}

long peakResidentKb() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class PictureLimitsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LumetraTest::useOffscreenDisplay(kSize, kSize);
        alarm(120);  // a hang ends this test instead of the whole run
        Lumetra::setLoadNoticeReporter(
            [this](const std::string& line) { notices.push_back(line); });
    }
    void TearDown() override {
        renderer.reset();
        Lumetra::setLoadNoticeReporter(nullptr);
        unsetenv("LUMETRA_PICTURE_MEMORY");
        alarm(0);
    }

    void start() { renderer = std::make_unique<Lumetra::Renderer>(); }

    Frame show(int content, float scaling_x = 1.0f) {
        Canvas canvas("CONTENT_TEXTURE_256");
        canvas.setContentData(content);
        canvas.setScalingX(scaling_x);
        renderer->drawCanvases({&canvas});
        return LumetraTest::readFrame(kSize, kSize);
    }

    // The notice about `file`, or "" when there is none; fails on more than one.
    std::string noticeAbout(const std::string& file) {
        std::string found;
        for (const std::string& line : notices) {
            if (line.rfind("./textures/" + file + ":", 0) == 0) {
                EXPECT_TRUE(found.empty()) << "two lines about " << file;
                found = line;
            }
        }
        return found;
    }

    LumetraTest::TempWorkDir work;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::vector<std::string> notices;
};

TEST_F(PictureLimitsTest, TinyFilesClaimingGigabytesAreRefusedBeforeDecoding) {
    LumetraTest::writeFile("textures/027.png", "P6\n16000 16000\n255\n");
    LumetraTest::writeFile("textures/028.png",
                           "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 8000 +X 8000\n");
    LumetraTest::writeFile("textures/029.gif", gifScreen(16384, 16383) + gifDot(0) + ";");
    std::string frames;
    for (int i = 0; i < 16; ++i) {
        frames += gifDot(10);
    }
    LumetraTest::writeFile("textures/030.gif", gifScreen(4096, 4096) + frames + ";");
    LumetraTest::writePng("textures/031.png", 1, 1, {0, 255, 0, 255});
    const long before = peakResidentKb();
    start();
    // Together they claim over 3 GB; refusing them costs nothing like it.
    EXPECT_LT(peakResidentKb() - before, 200 * 1024);
    for (int slot : {27, 28, 29, 30}) {
        EXPECT_TRUE(near(show(slot).at(50, 50), 0, 0, 0)) << slot;
    }
    EXPECT_TRUE(near(show(31).at(50, 50), 0, 255, 0));
    EXPECT_NE(noticeAbout("027.png").find("not shown: it claims 16000x16000 pixels"),
              std::string::npos);
    EXPECT_NE(noticeAbout("028.png").find("not shown"), std::string::npos);
    EXPECT_NE(noticeAbout("029.gif").find("16384x16383"), std::string::npos);
    EXPECT_NE(noticeAbout("030.gif").find("4096x4096"), std::string::npos);
    EXPECT_EQ(noticeAbout("031.png"), "");
    EXPECT_EQ(notices.size(), 4u);
}

// The GL refuses a texture wider than its limit; uploaded anyway, the canvas showed a
// solid block in its colour.
TEST_F(PictureLimitsTest, PictureWiderThanTheLargestTextureIsScaledDown) {
    start();
    const int max = Lumetra::PictureLimits::queryMaxTexture();
    const int width = max + 1;
    std::vector<uint8_t> px;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < width; ++x) {
            px.insert(px.end(), {static_cast<uint8_t>(x < width / 2 ? 255 : 0), 0,
                                 static_cast<uint8_t>(x < width / 2 ? 0 : 255), 255});
        }
    }
    LumetraTest::writePng("textures/031.png", width, 16, px);
    renderer.reset();
    start();
    Frame f = show(31, 8.0f);  // 80 pixels wide
    EXPECT_TRUE(near(f.at(20, 50), 255, 0, 0));
    EXPECT_TRUE(near(f.at(80, 50), 0, 0, 255));
    EXPECT_EQ(noticeAbout("031.png"), "./textures/031.png: " + std::to_string(width) +
                                          "x16 reduced to " + std::to_string(max) +
                                          "x16 to fit the largest texture (" + std::to_string(max) +
                                          "x" + std::to_string(max) + ")");
}

// 1 MB for all pictures, 512 KB of it for decoding ahead. A 200x200 still keeps 160000
// bytes: six fit, the seventh is reduced to what is left, a picture whose decoding alone
// needs more than 512 KB is refused; with or without workers alike.
TEST_F(PictureLimitsTest, PicturesBeyondTheMemoryBudgetAreReducedInSlotOrder) {
    setenv("LUMETRA_PICTURE_MEMORY", "1", 1);
    std::vector<uint8_t> white(200 * 200 * 4, 255);
    for (int slot = 0; slot < 7; ++slot) {
        LumetraTest::writePng("textures/00" + std::to_string(slot) + ".png", 200, 200, white);
    }
    LumetraTest::writePng("textures/007.png", 400, 400, std::vector<uint8_t>(400 * 400 * 4, 255));
    // A plausible file (a comment pads it) whose 16 full-screen frames need 1 GB.
    std::string gif = gifScreen(4096, 4096) + "\x21\xfe";
    for (int i = 0; i < 4; ++i) {
        gif += "\xff" + std::string(255, 'x');
    }
    gif += std::string(1, '\0');
    for (int i = 0; i < 16; ++i) {
        gif += gifDot(10);
    }
    LumetraTest::writeFile("textures/008.gif", gif + ";");
    // A file larger than decoding may hold is refused without being read.
    std::string padded = gifScreen(1, 1) + "\x21\xfe";
    for (int i = 0; i < 2400; ++i) {
        padded += "\xff" + std::string(255, 'x');
    }
    LumetraTest::writeFile("textures/009.gif", padded + std::string(1, '\0') + gifDot(0) + ";");
    std::vector<std::string> runs[2];
    for (int run = 0; run < 2; ++run) {
        setenv("LUMETRA_LOAD_THREADS", run == 0 ? "0" : "3", 1);
        notices.clear();
        start();
        EXPECT_TRUE(near(show(6).at(50, 50), 255, 255, 255));
        EXPECT_TRUE(near(show(7).at(50, 50), 0, 0, 0));
        runs[run] = notices;
        renderer.reset();
    }
    unsetenv("LUMETRA_LOAD_THREADS");
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(noticeAbout("005.png"), "");
    EXPECT_EQ(noticeAbout("006.png"),
              "./textures/006.png: 200x200 reduced to 148x148 to fit the picture memory left "
              "(87 KB)");
    EXPECT_EQ(noticeAbout("007.png"),
              "./textures/007.png: not shown: decoding its 400x400 pixels needs 1875 KB, more "
              "than the 512 KB allowed");
    EXPECT_EQ(noticeAbout("008.gif"),
              "./textures/008.gif: not shown: decoding its 16 frames of 4096x4096 needs 1089 "
              "MB, more than the 512 KB allowed");
    EXPECT_EQ(noticeAbout("009.gif"),
              "./textures/009.gif: not shown: decoding it needs its whole 601 KB file, more "
              "than the 512 KB allowed");
}

// Opening a FIFO for reading waits for a writer; a device may never end.
TEST_F(PictureLimitsTest, FifoDeviceAndDirectorySlotsAreMissingPictures) {
    ASSERT_EQ(mkfifo("textures/005.png", 0644), 0);
    ASSERT_EQ(symlink("005.png", "textures/006.gif"), 0);
    ASSERT_EQ(symlink("/dev/zero", "textures/007.png"), 0);
    ASSERT_EQ(mkdir("textures/008.png", 0755), 0);
    ASSERT_EQ(mkfifo("textures/009.png", 0644), 0);  // not a file: the GIF behind it counts
    ASSERT_EQ(LumetraTest::runCommand("convert -size 4x4 xc:red textures/009.gif"), 0);
    ASSERT_EQ(mkfifo("textures/010.h264", 0644), 0);
    start();
    for (int slot : {5, 6, 7, 8, 10}) {
        EXPECT_TRUE(near(show(slot).at(50, 50), 0, 0, 0)) << slot;
    }
    EXPECT_TRUE(near(show(9).at(50, 50), 255, 0, 0));
    EXPECT_TRUE(notices.empty());
}

class ClipSizeTest : public PictureLimitsTest {
  protected:
    // A mediainfo of our own, first on PATH (the legacy platform's size query).
    void fakeMediainfo(const std::string& script) {
        ASSERT_EQ(mkdir("bin", 0755), 0);
        LumetraTest::writeFile("bin/mediainfo", "#!/bin/sh\n" + script);
        ASSERT_EQ(chmod("bin/mediainfo", 0755), 0);
        path = std::getenv("PATH");
        setenv("PATH", (work.path() + "/bin:" + path).c_str(), 1);
    }
    void TearDown() override {
        PictureLimitsTest::TearDown();
        if (!path.empty()) {
            setenv("PATH", path.c_str(), 1);
        }
    }
    static int ffmpeg(const std::string& arguments) {
        return LumetraTest::runCommand("ffmpeg -nostdin -v error -y " + arguments);
    }
    std::string path;
};

// The size comes from the stream itself, whatever the file's name says.
TEST_F(ClipSizeTest, ClipsBeyondTheTextureLimitOrTheirFileAreFaintYellow) {
    // Wider than the largest texture (a PNG-in-MOV clip under an .h264 name).
    ASSERT_EQ(ffmpeg("-f lavfi -i color=red:s=16400x4 -frames:v 1 -c:v png -f mov "
                     "textures/003.h264"),
              0);
    // Cut off after its first picture's header: 4096x4096 claimed by a few hundred bytes.
    ASSERT_EQ(ffmpeg("-f lavfi -i color=red:s=4096x4096:d=0.04 -c:v libx264 "
                     "-bsf:v filter_units=remove_types=6 -f h264 big.h264"),
              0);
    ASSERT_EQ(LumetraTest::runCommand("head -c 400 big.h264 > textures/004.h264"), 0);
    ASSERT_EQ(ffmpeg("-f lavfi -i color=red:s=64x32:d=0.2 -c:v libx264 -f h264 "
                     "textures/005.h264"),
              0);
    start();
    EXPECT_TRUE(near(show(3).at(50, 50), 63, 63, 0, 2));
    EXPECT_TRUE(near(show(4).at(50, 50), 63, 63, 0, 2));
    EXPECT_FALSE(near(show(5).at(50, 50), 63, 63, 0, 2));  // plays: took the first player
    EXPECT_NE(noticeAbout("003.h264").find("not played: its size 16400x4 is beyond"),
              std::string::npos);
    EXPECT_NE(noticeAbout("004.h264").find("not played: it claims 4096x4096 pixels"),
              std::string::npos);
    EXPECT_EQ(noticeAbout("005.h264"), "");
}

TEST_F(ClipSizeTest, HangingMediainfoIsKilledAndTheSizeIsUnknown) {
    fakeMediainfo("echo $$ > " + work.path() + "/hung.pid\nsleep 1000\n");
    std::string clip = "textures/012.h264";
    LumetraTest::writeFile(clip, std::string(2000, 'x'));
    const auto begin = std::chrono::steady_clock::now();
    int width = 7, height = 7;
    bool timed_out = false;
    EXPECT_FALSE(Lumetra::getVideoSize(clip, &width, &height, &timed_out));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_LT(seconds, 30.0);
    EXPECT_TRUE(timed_out);
    EXPECT_EQ(width + height, 14);
    // Nothing it started is left behind.
    const pid_t hung = std::atoi(LumetraTest::readFile("hung.pid").c_str());
    ASSERT_GT(hung, 0);
    for (int i = 0; i < 500 && kill(hung, 0) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_NE(kill(hung, 0), 0);
}

}  // namespace
