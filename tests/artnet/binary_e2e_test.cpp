// The real program, offscreen, driven by Art-Net from this test process: each change must
// show in the next snapshot taken 50 ms plus one frame after the packet was sent.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "artnet/artnet_test_support.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace Lumetra {
namespace {

using ArtnetTest::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int WIDTH = 64;
constexpr int HEIGHT = 36;
constexpr int REFRESH = 60;
// The listener's 50 ms cycle, one frame, and room for a busy machine.
const auto LATENCY = std::chrono::milliseconds(50 + 1000 / REFRESH + 40);

struct Look {
    bool visible = false;
    int left = WIDTH, right = -1, top = HEIGHT, bottom = -1;
    int r = 0, g = 0, b = 0;  // colour at the centre of what is drawn
    double centreX() const { return (left + right + 1) / 2.0; }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
};

Look lookAt(const unsigned char* rgba) {
    Look look;
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            const unsigned char* p = rgba + 4 * (y * WIDTH + x);
            if (p[0] > 64 || p[1] > 64 || p[2] > 64) {
                look.visible = true;
                look.left = std::min(look.left, x);
                look.right = std::max(look.right, x);
                look.top = std::min(look.top, y);
                look.bottom = std::max(look.bottom, y);
            }
        }
    }
    if (look.visible) {
        const unsigned char* p =
            rgba + 4 * (((look.top + look.bottom) / 2) * WIDTH + (look.left + look.right) / 2);
        look.r = p[0];
        look.g = p[1];
        look.b = p[2];
    }
    return look;
}

class Program {
  public:
    explicit Program(const std::string& dir) : program(dir, WIDTH, HEIGHT, REFRESH) {}
    // The next frame the program draws, or an empty look with `ok` false.
    Look next(bool* ok) {
        std::vector<uint8_t> frame = program.nextFrame();
        *ok = !frame.empty();
        return *ok ? lookAt(frame.data()) : Look();
    }

  private:
    LumetraTest::SnapshotProgram program;
};

// One canvas's 20 channels: a still, unturned picture at the centre.
Bytes baseFrame() {
    Bytes frame(20, 0);
    frame[1] = 255;  // alpha
    frame[2] = 128;  // centre
    frame[3] = 128;
    frame[4] = 51;    // 4 of the view's 20 units wide
    frame[10] = 255;  // white light
    frame[11] = 255;
    frame[12] = 255;
    frame[15] = 127;  // no spin
    frame[16] = 127;
    return frame;
}

class BinaryE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ArtnetTest::artnetPortFree()) {
            GTEST_SKIP() << "UDP 6454 is taken";
        }
        std::string textures = dir.file("textures");
        mkdir(textures.c_str(), 0755);
        const int side = 16;
        std::vector<uint8_t> red(side * side * 4), white(side * side * 4, 255);
        for (int i = 0; i < side * side; ++i) {
            red[4 * i] = 255;
            red[4 * i + 3] = 255;
        }
        LumetraTest::writePng(textures + "/000.png", side, side, red);
        LumetraTest::writePng(textures + "/001.png", side, side, white);
        ArtnetTest::writeFile(dir.file("config.txt"),
                              "SUBNET=0\nUNIVERSE=3\nANZAHL=1\nDMX_START=5\nGPIO_LED=-1\n");
        program = std::make_unique<Program>(dir.path());
        auto end = Clock::now() + std::chrono::seconds(20);
        while (ArtnetTest::artnetPortFree() && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(ArtnetTest::artnetPortFree()) << ArtnetTest::readFile(dir.file("program.log"));
    }
    void TearDown() override { program.reset(); }

    // Sends the canvas's channels at address 5 of universe 3 and looks at the screen once
    // the promised latency has passed.
    Look sendAndLook(const Bytes& canvas) {
        Bytes slots(4 + canvas.size(), 0);
        std::copy(canvas.begin(), canvas.end(), slots.begin() + 4);
        auto sent = Clock::now();
        sender.send(ArtnetTest::artDmx(0x03, static_cast<int>(slots.size()), slots));
        std::this_thread::sleep_until(sent + LATENCY);
        bool ok = false;
        Look look = program->next(&ok);
        EXPECT_TRUE(ok) << "no snapshot";
        return look;
    }

    ArtnetTest::ScratchDir dir;
    ArtnetTest::Sender sender;
    std::unique_ptr<Program> program;
};

TEST_F(BinaryE2e, ArtnetMovesSizesColoursSwapsAndStrobesThePicture) {
    Bytes frame = baseFrame();
    Look centred = sendAndLook(frame);
    ASSERT_TRUE(centred.visible);
    EXPECT_NEAR(centred.centreX(), 32.0, 1.0);
    EXPECT_NEAR(centred.width(), 12.8, 1.5);
    EXPECT_NEAR(centred.height(), 12.8, 1.5) << "the square picture keeps its proportions";
    EXPECT_GT(centred.r, 200);
    EXPECT_LT(centred.g, 40);

    frame[2] = 192;  // 5 units, 16 pixels to the right
    Look moved = sendAndLook(frame);
    EXPECT_NEAR(moved.centreX(), 48.0, 1.0);

    frame[4] = 102;  // twice as wide, and as high
    Look larger = sendAndLook(frame);
    EXPECT_NEAR(larger.width(), 25.6, 1.5);
    EXPECT_NEAR(larger.height(), 25.6, 1.5);

    frame[0] = 1;  // the white picture
    Look white = sendAndLook(frame);
    EXPECT_GT(white.g, 200);
    EXPECT_GT(white.b, 200);

    frame[11] = 0;  // green off: magenta light on white
    Look magenta = sendAndLook(frame);
    EXPECT_GT(magenta.r, 200);
    EXPECT_LT(magenta.g, 40);
    EXPECT_GT(magenta.b, 200);

    frame[14] = 255;  // fastest strobe: two frames shown, two hidden
    sendAndLook(frame);
    std::set<bool> seen;
    for (int i = 0; i < 12 && seen.size() < 2; ++i) {
        bool ok = false;
        seen.insert(program->next(&ok).visible);
        std::this_thread::sleep_for(std::chrono::milliseconds(7 * (i % 3)));
    }
    EXPECT_EQ(seen.size(), 2u) << "the strobe shows and hides the picture";

    frame[14] = 0;
    frame[1] = 0;  // fully transparent
    EXPECT_FALSE(sendAndLook(frame).visible);
}

}  // namespace
}  // namespace Lumetra
