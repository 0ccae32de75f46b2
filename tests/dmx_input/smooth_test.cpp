// The 32-channel personality: fine channels, glide and crossfade on the renderer's own
// pixels, and a real program under a desk that alternates two looks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"
#include "canvas/angle.h"
#include "canvas/canvas_content/content_local_file_texture/gif_clock.h"
#include "canvas/canvas_manager.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace Lumetra {
namespace {

using Clock = std::chrono::steady_clock;
using LumetraTest::Frame;
using std::chrono::milliseconds;

// Offscreen screen with pictures 000 (2x2 red, green, blue, white), 001 (solid red) and
// 002 (solid blue), `canvases` canvases and a receiver of `channels` channels per canvas
// at address 1, whose frames the test hands over and draws at times of its choosing.
class Personality {
  public:
    Personality(int channels, int canvases, int width, int height) : width(width), height(height) {
        LumetraTest::useOffscreenDisplay(width, height);
        LumetraTest::writePng(work.file("textures/000.png"), 2, 2,
                              {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255});
        LumetraTest::writePng(work.file("textures/001.png"), 4, 4,
                              LumetraTest::solidRgba(4, 4, 255, 0, 0));
        LumetraTest::writePng(work.file("textures/002.png"), 4, 4,
                              LumetraTest::solidRgba(4, 4, 0, 0, 255));
        screen = std::make_unique<CanvasManager>();
        ArtnetReceiverProbe::Settings settings;
        settings.screen = screen.get();
        settings.canvases_id = screen->generateCanvasGroup(canvases, "CONTENT_TEXTURE_256");
        settings.channels = channels;
        receiver.reset(ArtnetReceiverProbe::create(settings));
        probe = std::make_unique<ArtnetReceiverProbe>(receiver.get());
        this->channels = channels;
    }
    ~Personality() {
        receiver.reset();
        screen.reset();
    }
    void set(int canvas, int offset, int value) {
        probe->dmx512()[channels * canvas + offset] = static_cast<unsigned char>(value);
    }
    // Hands the frame over as it stands (20 channels: maps it) and draws at `now`.
    Frame draw(Clock::time_point now) {
        if (channels == 32) {
            probe->publish(now);
        } else {
            probe->updateCanvasValues();
        }
        return redraw(now);
    }
    Frame redraw(Clock::time_point now) {
        screen->renderFrame(now);
        return LumetraTest::readFrame(width, height);
    }
    Canvas* canvas(int i) { return screen->getCanvasGroup(0)[i]; }

  private:
    LumetraTest::TempWorkDir work;
    int width;
    int height;
    int channels;
    std::unique_ptr<CanvasManager> screen;
    std::unique_ptr<ArtnetReceiver> receiver;
    std::unique_ptr<ArtnetReceiverProbe> probe;
};

// The varied cue: pictures, sizes, angles, ring copies, colours, opacity and positions
// differ from canvas to canvas.
void varied(Personality& p) {
    const int cue[3][17] = {
        {0, 255, 100, 140, 60, 0, 30, 0, 0, 0, 255, 200, 180, 0, 0, 0, 0},
        {1, 180, 170, 90, 40, 90, 0, 12, 40, 70, 255, 255, 255, 0, 0, 127, 0},
        {0, 128, 128, 128, 90, 30, 200, 0, 0, 0, 90, 255, 40, 0, 0, 10, 0},
    };
    for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < 17; ++k) {
            p.set(c, k, cue[c][k]);
        }
    }
}

// First column from the left whose pixel on row `y` is lit.
int leftEdge(const Frame& f, int y) {
    for (int x = 0; x < f.width; ++x) {
        const Frame::Pixel p = f.at(x, y);
        if (p.r + p.g + p.b > 0) {
            return x;
        }
    }
    return -1;
}

TEST(ThirtyTwoChannels, FineChannelsAtZeroDrawTheTwentyChannelPictureAndFineStepsMoveByFractions) {
    const Clock::time_point t = Clock::now();
    Frame twenty;
    {
        Personality p(20, 3, 1920, 1080);
        varied(p);
        twenty = p.draw(t);
    }
    Personality p(32, 3, 1920, 1080);
    varied(p);
    const Frame thirty_two = p.draw(t);
    EXPECT_TRUE(twenty.rgba == thirty_two.rgba) << "fine channels at 0 must change nothing";
    EXPECT_GT(std::count_if(twenty.rgba.begin(), twenty.rgba.end(),
                            [](uint8_t v) { return v > 0 && v < 255; }),
              10000)
        << "the cue draws mixed colours";

    // One blue square alone, its left edge on row 540; a coarse step is 7.5 px.
    for (int c = 1; c < 3; ++c) {
        p.set(c, 1, 0);
    }
    const int square[] = {0, 255, 128, 128, 20, 0, 0, 0, 0, 0, 255, 255, 255};
    for (int k = 0; k < 13; ++k) {
        p.set(0, k, square[k]);
    }
    p.set(0, 0, 2);     // solid blue
    p.set(0, 15, 127);  // no spin
    const int base = leftEdge(p.draw(t), 540);
    for (int fine = 32; fine < 256; fine += 32) {
        p.set(0, 21, fine);
        const double expected = 7.5 * fine / 256.0;
        const int moved = leftEdge(p.draw(t), 540) - base;
        // A pixel is lit when its centre is covered: the edge moves by the whole pixels
        // either side of the exact shift.
        EXPECT_LT(std::abs(moved - expected), 1.0) << "fine " << fine;
    }
    p.set(0, 21, 0);
    p.set(0, 2, 129);
    EXPECT_LT(std::abs(leftEdge(p.draw(t), 540) - base - 7.5), 1.0);
}

TEST(ThirtyTwoChannels, GlidesFromWhatIsDrawnAndCrossfadesWithoutGoingDark) {
    Personality p(32, 1, 200, 100);
    Canvas* c = p.canvas(0);
    const Clock::time_point t0 = Clock::now();
    p.set(0, 0, 1);
    p.set(0, 1, 255);
    p.set(0, 2, 64);
    p.set(0, 4, 255);
    p.set(0, 10, 255);
    p.set(0, 11, 255);
    p.set(0, 12, 255);
    p.set(0, 6, 249);  // -350.5 degrees, drawn as 9.5
    p.draw(t0);
    EXPECT_EQ(c->getPositionX(), -5.0f) << "glide 0 snaps";

    // Glide 50: 500 ms; halfway after 250 ms, angles the short way round through 0.
    p.set(0, 29, 50);
    p.set(0, 2, 192);
    p.set(0, 6, 7);  // -9.84375 degrees, 350.15625
    p.draw(t0);
    p.redraw(t0 + milliseconds(250));
    EXPECT_NEAR(c->getPositionX(), 0.0f, 1e-4);
    const float angle = wrapAngle(c->getRotation());
    EXPECT_TRUE(angle < 1.0f || angle > 359.0f) << angle;
    // A new target mid-glide starts from the drawn place, not from the last target.
    p.set(0, 2, 64);
    p.draw(t0 + milliseconds(250));
    EXPECT_NEAR(c->getPositionX(), 0.0f, 1e-4);
    p.redraw(t0 + milliseconds(500));
    EXPECT_NEAR(c->getPositionX(), -2.5f, 1e-4);
    p.redraw(t0 + milliseconds(750));
    EXPECT_EQ(c->getPositionX(), -5.0f);

    // Glide 1 under a 30 Hz desk moving right: every 60 Hz frame further on.
    p.set(0, 29, 1);
    float last = c->getPositionX();
    Clock::time_point t = t0 + milliseconds(1000);
    for (int step = 0; step < 30; ++step) {
        p.set(0, 2, 64 + step);
        p.draw(t);
        p.redraw(t + milliseconds(1000) / 60);
        if (step > 2) {
            EXPECT_GT(c->getPositionX(), last) << "step " << step;
        }
        last = c->getPositionX();
        t += milliseconds(1000) / 30;
    }

    // Full-screen red, crossfade 25 (1 s) to blue: in proportion halfway, never darker.
    p.set(0, 29, 0);
    p.set(0, 2, 128);
    p.set(0, 3, 128);
    p.set(0, 5, 255);
    p.set(0, 6, 0);
    p.set(0, 15, 127);
    p.draw(t);
    p.set(0, 28, 25);
    p.set(0, 0, 2);
    for (int ms = 0; ms <= 1000; ms += 100) {
        const Frame f = ms == 0 ? p.draw(t) : p.redraw(t + milliseconds(ms));
        const Frame::Pixel px = f.at(100, 50);
        const int blue = 255 * ms / 1000;
        EXPECT_NEAR(px.b, blue, 5) << ms << " ms";
        EXPECT_NEAR(px.r, 255 - blue, 5) << ms << " ms";
        EXPECT_GE(px.r + px.b, 250) << ms << " ms";
    }
    EXPECT_EQ(c->getFadingContent(), -1);
    // Back to blue 300 ms into a fade to red turns the fade round from where it is.
    p.set(0, 0, 1);
    p.draw(t + milliseconds(2000));
    p.set(0, 0, 2);
    Frame::Pixel back = p.draw(t + milliseconds(2300)).at(100, 50);
    EXPECT_NEAR(back.r, 255 * 3 / 10, 5);
    EXPECT_NEAR(back.b, 255 * 7 / 10, 5);
    back = p.redraw(t + milliseconds(2500)).at(100, 50);
    EXPECT_NEAR(back.r, 255 * 1 / 10, 5);
}

// Two canvases show one GIF (red, then blue, 500 ms each): the frame goes by the time
// since it was first shown, not by how often it is drawn.
TEST(ThirtyTwoChannels, GifsPlayAtTheFilesOwnDelays) {
    Personality p(32, 2, 200, 100);
    ASSERT_EQ(
        LumetraTest::runCommand("convert -delay 50 -size 4x4 xc:red xc:blue textures/003.gif"), 0);
    setGifClockByTime(true);
    for (int c = 0; c < 2; ++c) {
        const int full_screen[] = {3, 255, 128, 128, 255, 255, 0, 0, 0, 0, 255, 255, 255};
        for (int k = 0; k < 13; ++k) {
            p.set(c, k, full_screen[k]);
        }
        p.set(c, 15, 127);
    }
    // The picture arrives with the watcher's next look at the directory.
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(5);
    Frame f = p.draw(Clock::now());
    while (!LumetraTest::near(f.at(100, 50), 255, 0, 0) && Clock::now() < give_up) {
        f = p.redraw(Clock::now());
    }
    for (int i = 0; i < 20; ++i) {
        p.redraw(Clock::now());
    }
    EXPECT_TRUE(LumetraTest::near(p.redraw(Clock::now()).at(100, 50), 255, 0, 0));
    std::this_thread::sleep_for(milliseconds(650));
    EXPECT_TRUE(LumetraTest::near(p.redraw(Clock::now()).at(100, 50), 0, 0, 255));
    setGifClockByTime(false);
}

// A desk sends two looks that differ in every field, back and forth, as fast as it can;
// every drawn frame shows one of them whole.
TEST(ThirtyTwoChannels, NoDrawnFrameMixesTwoDeskFrames) {
    LumetraTest::TempWorkDir work;
    LumetraTest::writeFile(work.file("config.txt"), "CHANNELS=32\nDMX_START=1\nANZAHL=1\n");
    LumetraTest::writePng(work.file("textures/000.png"), 4, 4,
                          LumetraTest::solidRgba(4, 4, 255, 255, 255));
    LumetraTest::writePng(work.file("textures/001.png"), 4, 4,
                          LumetraTest::solidRgba(4, 4, 255, 255, 255));
    // Look A: red, small, left; look B: green, larger, right and lower; all else differs.
    const ArtnetTest::Bytes a = {0,   255, 70, 128, 20, 20, 0, 0, 0, 0, 255, 0, 0, 0, 0, 127,
                                 127, 0,   0,  0,   0,  0,  0, 0, 0, 0, 0,   0, 0, 0, 0, 0};
    const ArtnetTest::Bytes b = {1,   254, 190, 160, 40, 60, 0, 0, 0, 0, 0, 255, 0, 0, 0, 127,
                                 127, 0,   0,   0,   0,  0,  0, 0, 0, 0, 0, 0,   0, 0, 0, 0};
    LumetraTest::SnapshotProgram program(work.path(), 160, 90, 60);
    std::atomic<bool> sending{true};
    std::thread desk([&] {
        ArtnetTest::Sender sender;
        for (int i = 0; sending; ++i) {
            sender.send(ArtnetTest::artDmx(i % 2 == 0 ? a : b));
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const Clock::time_point give_up = Clock::now() + std::chrono::seconds(20);
    while (!LumetraTest::artnetPortTaken() && Clock::now() < give_up) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    // Until the first frames arrive the canvas shows its white start-up square.
    auto white = [](const std::vector<uint8_t>& rgba) {
        for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
            if (rgba[i] > 0 && rgba[i + 1] > 0) {
                return true;
            }
        }
        return false;
    };
    while (Clock::now() < give_up) {
        const std::vector<uint8_t> rgba = program.nextFrame();
        if (!rgba.empty() && !white(rgba)) {
            break;
        }
    }
    int seen[2] = {0, 0};
    for (int shot = 0; shot < 40; ++shot) {
        const std::vector<uint8_t> rgba = program.nextFrame();
        if (rgba.size() != 160u * 90u * 4u) {
            ADD_FAILURE() << "no snapshot";
            break;
        }
        // The lit pixels' box and colour tell the look: A is red, about 12 px wide, from
        // column 37; B is green, about 25 px wide, from column 106.
        int left = 160, right = -1, red = 0, green = 0;
        for (int y = 0; y < 90; ++y) {
            for (int x = 0; x < 160; ++x) {
                const uint8_t* p = &rgba[(y * 160 + x) * 4];
                if (p[0] + p[1] + p[2] == 0) {
                    continue;
                }
                left = std::min(left, x);
                right = std::max(right, x);
                (p[0] > p[1] ? red : green) += 1;
            }
        }
        const bool look_a = red > 0 && green == 0 && left < 80 && right - left < 18;
        const bool look_b = green > 0 && red == 0 && left > 80 && right - left > 18;
        EXPECT_TRUE(look_a || look_b) << "shot " << shot << ": red " << red << " green " << green
                                      << " from " << left << " to " << right;
        ++seen[look_a ? 0 : 1];
    }
    sending = false;
    desk.join();
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
}

}  // namespace
}  // namespace Lumetra
