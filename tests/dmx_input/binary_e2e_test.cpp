// The real program, offscreen, driven by Art-Net from this test process: each change must
// show in its snapshots. The test waits for each state with a generous deadline (a loaded
// machine or a sanitizer slows the program, not its result) and prints how long it took.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_test_support.h"
#include "dmx_input/one_canvas_fixture.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace Lumetra {
namespace {

using ArtnetTest::Bytes;
using Clock = std::chrono::steady_clock;

constexpr int WIDTH = 64;
constexpr int HEIGHT = 36;
constexpr int REFRESH = 60;
// Far beyond the listener's 50 ms cycle and one frame: only a fault takes this long.
const auto DEADLINE = std::chrono::seconds(10);

using Look = LumetraTest::LitPart;  // colour at the centre of what is drawn

bool within(double value, double expected, double tolerance) {
    return value >= expected - tolerance && value <= expected + tolerance;
}

Look lookAt(const unsigned char* rgba) {
    return LumetraTest::litPart(rgba, WIDTH, HEIGHT);
}

class Program {
  public:
    explicit Program(std::unique_ptr<LumetraTest::SnapshotProgram> started)
        : program(std::move(started)) {}
    // The next frame the program draws, or an empty look with `ok` false.
    Look next(bool* ok) {
        std::vector<uint8_t> frame = program->nextFrame();
        *ok = !frame.empty();
        return *ok ? lookAt(frame.data()) : Look();
    }

  private:
    std::unique_ptr<LumetraTest::SnapshotProgram> program;
};

// One canvas's 20 channels: a still, unturned picture at the centre, 4 of the view's 20
// units wide.
Bytes baseFrame() {
    return LumetraTest::centredPicture(0, 51);
}

class BinaryE2e : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ArtnetTest::artnetPortFree()) {
            GTEST_SKIP() << "UDP 6454 is taken";
        }
        const int side = 16;
        std::vector<uint8_t> red(side * side * 4), white(side * side * 4, 255);
        for (int i = 0; i < side * side; ++i) {
            red[4 * i] = 255;
            red[4 * i + 3] = 255;
        }
        auto started = ArtnetTest::startOneCanvasFixture(dir, {red, white}, WIDTH, HEIGHT, REFRESH);
        ASSERT_NE(started, nullptr);
        program = std::make_unique<Program>(std::move(started));
    }
    void TearDown() override { program.reset(); }

    // Sends the canvas's channels at address 5 of universe 3 until a snapshot `shows` what
    // is expected, or the deadline passes; the last look either way.
    Look sendUntil(const Bytes& canvas, const std::function<bool(const Look&)>& shows) {
        Bytes slots(4 + canvas.size(), 0);
        std::copy(canvas.begin(), canvas.end(), slots.begin() + 4);
        const Bytes packet = ArtnetTest::artDmx(0x03, static_cast<int>(slots.size()), slots);
        const auto sent = Clock::now();
        Look look;
        do {
            sender.send(packet);  // again each time: UDP may drop one, the frame is the same
            bool ok = false;
            look = program->next(&ok);
            if (ok && shows(look)) {
                const auto ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent);
                std::printf("shown after %lld ms: %s\n", static_cast<long long>(ms.count()),
                            look.text().c_str());
                return look;
            }
        } while (Clock::now() - sent < DEADLINE);
        return look;
    }

    ArtnetTest::ScratchDir dir;
    ArtnetTest::Sender sender;
    std::unique_ptr<Program> program;
};

TEST_F(BinaryE2e, ArtnetMovesSizesColoursSwapsAndStrobesThePicture) {
    Bytes frame = baseFrame();
    // The square picture keeps its proportions: 4 of the view's 20 units, 12.8 pixels.
    auto centred = [](const Look& l) {
        return l.visible && within(l.centreX(), 32.0, 1.0) && within(l.width(), 12.8, 1.5) &&
               within(l.height(), 12.8, 1.5) && l.r > 200 && l.g < 40;
    };
    Look look = sendUntil(frame, centred);
    EXPECT_TRUE(centred(look)) << look.text();

    frame[2] = 192;  // 5 units, 16 pixels to the right
    auto moved = [](const Look& l) { return l.visible && within(l.centreX(), 48.0, 1.0); };
    look = sendUntil(frame, moved);
    EXPECT_TRUE(moved(look)) << look.text();

    frame[4] = 102;  // twice as wide, and as high
    auto larger = [](const Look& l) {
        return within(l.width(), 25.6, 1.5) && within(l.height(), 25.6, 1.5);
    };
    look = sendUntil(frame, larger);
    EXPECT_TRUE(larger(look)) << look.text();

    frame[0] = 1;  // the white picture
    auto white = [](const Look& l) { return l.r > 200 && l.g > 200 && l.b > 200; };
    look = sendUntil(frame, white);
    EXPECT_TRUE(white(look)) << look.text();

    frame[11] = 0;  // green off: magenta light on white
    auto magenta = [](const Look& l) { return l.r > 200 && l.g < 40 && l.b > 200; };
    look = sendUntil(frame, magenta);
    EXPECT_TRUE(magenta(look)) << look.text();

    frame[14] = 255;  // fastest strobe: two frames shown, two hidden
    std::set<bool> seen;
    sendUntil(frame, [&](const Look& l) {
        seen.insert(l.visible);
        return seen.size() == 2;
    });
    EXPECT_EQ(seen.size(), 2u) << "the strobe shows and hides the picture";

    frame[14] = 0;
    frame[1] = 0;  // fully transparent
    auto hidden = [](const Look& l) { return !l.visible; };
    look = sendUntil(frame, hidden);
    EXPECT_TRUE(hidden(look)) << look.text();
}

}  // namespace
}  // namespace Lumetra
