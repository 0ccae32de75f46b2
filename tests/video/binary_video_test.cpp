// The real program offscreen: a clip in a picture slot, chosen by Art-Net DMX, plays in the
// snapshots, and a later snapshot shows a later picture of the clip.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/snapshot_program.h"
#include "support/test_support.h"
#include "video/clip_maker.h"

namespace VideoTest {
namespace {

using Clock = std::chrono::steady_clock;

const int kWidth = 64;
const int kHeight = 36;
const Colour kClip[] = {{"red", 255, 0, 0}, {"lime", 0, 255, 0}, {"blue", 0, 0, 255}};

bool artnetPortTaken() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(6454);
    bool taken = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0;
    close(fd);
    return taken;
}

// ArtDmx for universe 3 with the canvas's 20 channels from address 5.
// Subnet 0, universe 3, the canvas at channel 5.
void sendCanvas(const std::vector<unsigned char>& channels) {
    LumetraTest::sendArtDmx(0x03, 5, channels);
}

// The colour at the centre of the program's next frame; false when no snapshot came.
bool centre(LumetraTest::SnapshotProgram& program, int* r, int* g, int* b) {
    std::vector<uint8_t> frame = program.nextFrame();
    if (frame.empty()) {
        return false;
    }
    const uint8_t* p = frame.data() + 4 * ((kHeight / 2) * kWidth + kWidth / 2);
    *r = p[0];
    *g = p[1];
    *b = p[2];
    return true;
}

// Index in the clip of the colour seen, or -1.
int clipColour(int r, int g, int b) {
    for (int i = 0; i < 3; i++) {
        if (std::abs(r - kClip[i].r) < 50 && std::abs(g - kClip[i].g) < 50 &&
            std::abs(b - kClip[i].b) < 50) {
            return i;
        }
    }
    return -1;
}

TEST(BinaryVideo, ClipChosenByDmxPlaysInTheSnapshotsAndMovesOn) {
    if (artnetPortTaken()) {
        GTEST_SKIP() << "UDP 6454 is taken";
    }
    LumetraTest::TempWorkDir work;
    ASSERT_TRUE(makeColourClip(work.file("textures/002.h264"), {kClip[0], kClip[1], kClip[2]},
                               kWidth, kHeight, 10, 0.6));
    LumetraTest::writePng(work.file("textures/000.png"), 1, 1, {255, 255, 255, 255});
    LumetraTest::writeFile(work.file("config.txt"),
                           "SUBNET=0\nUNIVERSE=3\nANZAHL=1\nDMX_START=5\nGPIO_LED=-1\n");
    LumetraTest::SnapshotProgram program(work.path(), kWidth, kHeight, 60);
    auto end = Clock::now() + std::chrono::seconds(20);
    while (!artnetPortTaken() && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(artnetPortTaken()) << LumetraTest::readFile(work.file("program.log"));

    // Slot 2 on a canvas over the whole screen, full light, no spin.
    const std::vector<unsigned char> canvas = LumetraTest::centredPicture(2, 255);

    int first = -1;
    int r = 0, g = 0, b = 0;
    end = Clock::now() + std::chrono::seconds(10);
    while (first < 0 && Clock::now() < end) {
        sendCanvas(canvas);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(centre(program, &r, &g, &b));
        first = clipColour(r, g, b);
    }
    ASSERT_GE(first, 0) << "the clip never showed; centre " << r << "," << g << "," << b;

    int later = first;
    end = Clock::now() + std::chrono::seconds(5);
    while ((later == first || later < 0) && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(centre(program, &r, &g, &b));
        later = clipColour(r, g, b);
    }
    EXPECT_EQ(later, (first + 1) % 3) << "a later snapshot shows the clip's next picture";
    EXPECT_LT(program.stop(), 3.0) << "a playing clip must not hold the shut-down up";
    EXPECT_EQ(program.exitStatus(), 0) << LumetraTest::readFile(work.file("program.log"));
}

}  // namespace
}  // namespace VideoTest
