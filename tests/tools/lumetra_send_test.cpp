// lumetra-send drives the real fixture: the program runs offscreen with snapshots, the
// tool is run as a user would run it, and the test waits for the picture to show.
#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/snapshot_program.h"
#include "support/test_support.h"

using namespace LumetraTest;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int WIDTH = 64;
constexpr int HEIGHT = 36;

using Lit = LumetraTest::LitPart;

Lit litPart(const std::vector<uint8_t>& rgba) {
    return LumetraTest::litPart(rgba.data(), WIDTH, HEIGHT);
}

// Whether a socket of this network namespace is bound to UDP `port`.
bool udpPortBound(int port) {
    char hex[8];
    std::snprintf(hex, sizeof(hex), ":%04X", port);
    std::ifstream table("/proc/net/udp");
    std::string line;
    while (std::getline(table, line)) {
        std::string local = line.substr(0, std::min<size_t>(line.size(), 40));
        if (local.find(hex) != std::string::npos && line.find(" 07 ") != std::string::npos) {
            return true;
        }
    }
    return false;
}

class LumetraSend : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<uint8_t> white(16 * 16 * 4, 255);
        writePng(work.file("textures/003.png"), 16, 16, white);
        // Canvas 1 starts at channel 31; the universe is not the default one.
        writeFile(work.file("config.txt"), "SUBNET=1\nUNIVERSE=2\nDMX_START=11\nANZAHL=2\n");
        program = std::make_unique<SnapshotProgram>(work.path(), WIDTH, HEIGHT, 60);
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (!udpPortBound(6454) && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(udpPortBound(6454)) << readFile(work.file("program.log"));
    }

    // Runs lumetra-send with `args` (in the fixture's directory, so it reads its
    // config.txt) until a snapshot `shows` what is expected or ten seconds pass.
    Lit sendUntil(const std::string& args, const std::function<bool(const Lit&)>& shows) {
        const std::string command = builtProgram("tools/lumetra-send") + " " + args + " >/dev/null";
        const auto end = Clock::now() + std::chrono::seconds(10);
        Lit lit;
        do {
            EXPECT_EQ(runCommand(command), 0) << command;
            std::vector<uint8_t> frame = program->nextFrame();
            if (!frame.empty()) {
                lit = litPart(frame);
                if (shows(lit)) {
                    break;
                }
            }
        } while (Clock::now() < end);
        return lit;
    }

    TempWorkDir work;
    std::unique_ptr<SnapshotProgram> program;
};

TEST_F(LumetraSend, NamedFunctionsOfACanvasShowItsPictureCentredInTheConfiguredUniverse) {
    // 51 is 4 of the view's 20 units: 12.8 of 64 pixels, in white light by default.
    auto centred = [](const Lit& l) {
        return l.visible && std::abs(l.centreX() - 32) <= 1 && std::abs(l.width() - 12.8) <= 1.5 &&
               l.r > 200 && l.g > 200 && l.b > 200;
    };
    Lit lit = sendUntil("--canvas 1 picture=3 opacity=255 size=51", centred);
    EXPECT_TRUE(centred(lit)) << "lit x " << lit.left << ".." << lit.right;

    auto red_left = [](const Lit& l) {
        return l.visible && std::abs(l.centreX() - 16) <= 1 && l.r > 200 && l.g < 40 && l.b < 40;
    };
    lit = sendUntil("--canvas 1 picture=3 opacity=255 size=51 x=64 green=0 blue=0", red_left);
    EXPECT_TRUE(red_left(lit)) << "lit x " << lit.left << ".." << lit.right;
}

TEST_F(LumetraSend, RawChannelsAreDmxAddressesAndAnotherUniverseChangesNothing) {
    // Canvas 0 from channel 11: picture, opacity, x, y, size, then red, green, blue.
    const std::string raw = "11=3 12=255 13=192 14=128 15=51 21=255 22=255 23=255";
    auto right = [](const Lit& l) { return l.visible && std::abs(l.centreX() - 48) <= 1; };
    Lit lit = sendUntil(raw, right);
    EXPECT_TRUE(right(lit)) << "lit x " << lit.left << ".." << lit.right;

    // The same frame for universe 3 of subnet 1 is not the fixture's: it stays as it was.
    EXPECT_EQ(runCommand(builtProgram("tools/lumetra-send") + " --universe 3 12=0 >/dev/null"), 0);
    // Nor is subnet 1, universe 2 of Net 1 (Port-Address 274, not 18).
    EXPECT_EQ(runCommand(builtProgram("tools/lumetra-send") + " --net 1 12=0 >/dev/null"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // several listener cycles
    lit = litPart(program->nextFrame());
    EXPECT_TRUE(right(lit)) << "a frame for another universe or Net changed the picture";
}

TEST_F(LumetraSend, SacnReachesTheFixtureOnItsDefaultUniverse) {
    if (!udpPortBound(5568)) {
        GTEST_SKIP() << "this build of the fixture has no sACN input";
    }
    // SUBNET=1, UNIVERSE=2: sACN universe 16 + 2 + 1.
    auto red = [](const Lit& l) { return l.visible && l.r > 200 && l.g < 40 && l.b < 40; };
    Lit lit = sendUntil("--sacn picture=3 opacity=255 size=51 green=0 blue=0", red);
    EXPECT_TRUE(red(lit)) << "lit x " << lit.left << ".." << lit.right;
}

// The README's indented block that holds `marker`.
std::string readmeBlock(const std::string& marker) {
    std::ifstream readme(std::string(LUMETRA_SOURCE_DIR) + "/README.md");
    std::string line, block;
    bool found = false;
    while (std::getline(readme, line)) {
        if (line.rfind("    ", 0) == 0) {
            block += line.substr(4) + "\n";
            found |= line.find(marker) != std::string::npos;
        } else if (found) {
            break;
        } else {
            block.clear();
        }
    }
    return found ? block : "";
}

// The README's recipe for a fixture without a screen, given to a shell as one block, as
// if pasted: the frame it asks for holds the picture it sends, and the fixture ends.
TEST(ReadmeRecipe, PastedAsOneBlockItGivesThePictureInTheFrame) {
    TempWorkDir work;
    const std::string frame = work.file("frame.png");
    std::string block = readmeBlock("LUMETRA_SNAPSHOT=/tmp/frame.png");
    ASSERT_FALSE(block.empty()) << "no such block in README.md";
    for (size_t at; (at = block.find("/tmp/frame.png")) != std::string::npos;) {
        block.replace(at, 14, frame);
    }
    writeFile(work.file("recipe.sh"), block + "wait $!\n");
    runCommand("mkdir -p " + work.file("demo/textures"));
    writePng(work.file("demo/textures/003.png"), 16, 16, std::vector<uint8_t>(16 * 16 * 4, 255));
    const std::string program = builtProgram("rpi_lumetra");
    ASSERT_EQ(symlink(program.substr(0, program.rfind('/')).c_str(), work.file("build").c_str()),
              0);
    EXPECT_EQ(runCommand("cd " + work.path() + " && sh -s < recipe.sh > recipe.log 2>&1"), 0)
        << readFile(work.file("recipe.log"));
    int w = 0, h = 0, n = 0;
    unsigned char* rgba = stbi_load(frame.c_str(), &w, &h, &n, 4);
    ASSERT_NE(rgba, nullptr) << readFile(work.file("recipe.log"));
    const unsigned char* centre = rgba + 4 * (h / 2 * w + w / 2);
    EXPECT_GT(centre[0] + centre[1] + centre[2], 600) << "the picture is not in the frame";
    EXPECT_LT(rgba[0] + rgba[1] + rgba[2], 30) << "the corner should stay dark";
    stbi_image_free(rgba);
}

TEST(LumetraSendUsage, BadInputIsRefusedWithStatusTwoAndOneLine) {
    const std::string tool = builtProgram("tools/lumetra-send") + " --config /nonexistent ";
    for (const char* args :
         {"bogus=1", "picture=256", "picture", "0=1", "513=1", "--canvas 25 picture=1",
          "--to 300.1.1.1 1=1", "--universe", "--start 500 --canvas 1 picture=1", "--hold -1 1=1",
          "--wait x 1=1", "x=127.5", "glide=1", "--channels 24 x=1", "--channels 32 red=1.5",
          "--channels 32 x=256", "1=2.5", "--channels 32 --canvas 16 x=1"}) {
        const std::string output = commandOutput(tool + args + " 2>&1; echo status=$?");
        EXPECT_NE(output.find("status=2"), std::string::npos) << args << ": " << output;
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 2) << args << ": " << output;
    }
    // Nobody listens in this test's own network: the wait gives up, status 1.
    const std::string output = commandOutput(tool + "--wait 0.3 1=1 2>&1; echo status=$?");
    EXPECT_NE(output.find("no fixture listens on 127.0.0.1:6454"), std::string::npos) << output;
    EXPECT_NE(output.find("status=1"), std::string::npos) << output;
}

// The frame as it leaves the tool, read from the Art-Net port of this test's own network.
TEST(LumetraSendFrame, ThirtyTwoChannelsSplitFractionsIntoCoarseAndFine) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(6454);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof(at)), 0);
    const timeval wait{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof(wait));
    EXPECT_EQ(runCommand(builtProgram("tools/lumetra-send") +
                         " --config /nonexistent --channels 32 --start 1 --canvas 1 x=127.5 "
                         "opacity=255.99 glide=50 crossfade=3 >/dev/null"),
              0);
    unsigned char packet[600] = {};
    ASSERT_EQ(recv(fd, packet, sizeof(packet), 0), 18 + 512);
    close(fd);
    const unsigned char* canvas1 = packet + 18 + 32;  // DMX address 33
    EXPECT_EQ(canvas1[2], 127);
    EXPECT_EQ(canvas1[21], 128);
    EXPECT_EQ(canvas1[1], 255);
    EXPECT_EQ(canvas1[20], 253);  // .99 of 256 is 253.44
    EXPECT_EQ(canvas1[28], 3);
    EXPECT_EQ(canvas1[29], 50);
    EXPECT_EQ(canvas1[3], 128) << "the rest of the canvas is neutral";
    EXPECT_EQ(canvas1[22], 0);
}

}  // namespace
