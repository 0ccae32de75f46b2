// The real program, offscreen, driven by sACN from this test process: its configuration
// picks the sACN universe (by default Art-Net's plus one) and the picture shows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_test_support.h"
#include "dmx_input/sacn_test_support.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace Lumetra {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int WIDTH = 64;
constexpr int HEIGHT = 36;
constexpr int SHOWN = 120;  // red pixels of the picture we send

// How many pixels of the frame are lit red.
int redPixels(const std::vector<uint8_t>& rgba) {
    int count = 0;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) {
        count += (rgba[i] > 200 && rgba[i + 1] < 60 && rgba[i + 2] < 60) ? 1 : 0;
    }
    return count;
}

class SacnBinary : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ArtnetTest::artnetPortFree()) {
            GTEST_SKIP() << "UDP 6454 is taken";
        }
    }
    void start(const std::string& config) {
        std::string textures = dir.file("textures");
        mkdir(textures.c_str(), 0755);
        const int side = 16;
        std::vector<uint8_t> red(side * side * 4, 0);
        for (int i = 0; i < side * side; ++i) {
            red[4 * i] = 255;
            red[4 * i + 3] = 255;
        }
        LumetraTest::writePng(textures + "/000.png", side, side, red);
        ArtnetTest::writeFile(dir.file("config.txt"), config);
        program = std::make_unique<LumetraTest::SnapshotProgram>(dir.path(), WIDTH, HEIGHT, 60);
        // Up once its receiver holds the Art-Net port; snapshots are asked for after that.
        auto end = Clock::now() + std::chrono::seconds(20);
        while (ArtnetTest::artnetPortFree() && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_FALSE(ArtnetTest::artnetPortFree()) << ArtnetTest::readFile(dir.file("program.log"));
    }
    // A centred, white-lit picture 0, 4 units wide (about 13 x 13 pixels), at DMX address 5
    // of `universe`, sent until it shows or `ms` have passed; the red pixels of the last
    // frame looked at. Before any DMX the canvas shows a smaller picture.
    int sendUntilShown(int universe, int ms) {
        ArtnetTest::SacnFields f;
        f.universe = universe;
        f.slots.assign(24, 0);
        f.slots[5] = 255;  // alpha
        f.slots[6] = 128;  // centre
        f.slots[7] = 128;
        f.slots[8] = 51;  // 4 of the view's 20 units wide
        f.slots[14] = f.slots[15] = f.slots[16] = 255;
        f.slots[19] = f.slots[20] = 127;  // no spin
        int red = 0;
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        do {
            f.sequence = (f.sequence + 1) & 0xff;
            sender.send(ArtnetTest::sacnData(f), "127.0.0.1", 5568);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            red = redPixels(program->nextFrame());
        } while (red < SHOWN && Clock::now() < end);
        return red;
    }

    ArtnetTest::ScratchDir dir;
    ArtnetTest::Sender sender;
    std::unique_ptr<LumetraTest::SnapshotProgram> program;
};

TEST_F(SacnBinary, DefaultUniverseIsArtnetsPlusOne) {
    ASSERT_NO_FATAL_FAILURE(start("SUBNET=0\nUNIVERSE=3\nANZAHL=1\nDMX_START=5\n"));
    EXPECT_LT(sendUntilShown(3, 1500), SHOWN) << "sACN universe 3 is not ours";
    EXPECT_GE(sendUntilShown(4, 10000), SHOWN) << ArtnetTest::readFile(dir.file("program.log"));
}

TEST_F(SacnBinary, ConfiguredUniverseAndZeroForOff) {
    ASSERT_NO_FATAL_FAILURE(start("SACN_UNIVERSE=300\nDMX_START=5\n"));
    EXPECT_GE(sendUntilShown(300, 10000), SHOWN) << ArtnetTest::readFile(dir.file("program.log"));
    program.reset();
    ASSERT_NO_FATAL_FAILURE(start("SACN_UNIVERSE=0\nDMX_START=5\n"));
    EXPECT_LT(sendUntilShown(1, 1500), SHOWN) << "sACN off";
}

}  // namespace
}  // namespace Lumetra
