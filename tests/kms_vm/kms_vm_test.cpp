// The real program on a real DRM/KMS device: one QEMU guest (virtio-gpu) boots on this
// machine's own root file system and runs guest-checks.sh, which starts rpi_lumetra with
// nothing named, drives it with Art-Net sent inside the guest and has the virtual screen
// saved as pictures. The tests here judge what it left behind.

#include <gtest/gtest.h>
#include <stb/stb_image.h>
#include <stdlib.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>

#include "support/test_support.h"

namespace {

using LumetraTest::readFile;
using LumetraTest::runCommand;
using LumetraTest::writeFile;

// The first card's monitor prefers kWidth x kHeight, the second card's kWidth2 x kHeight2.
const int kWidth = 640;
const int kHeight = 480;
const int kWidth2 = 1280;
const int kHeight2 = 720;

// Where a canvas lands for its channels: position and size channels as the receiver maps
// them (scaling multiplier 1), on a w x h screen 20 units wide. A zero height channel keeps
// a square picture square.
struct Box {
    int cx, cy, half_w, half_h;
};
Box boxOf(int w, int h, int x, int y, int sx, int sy) {
    const double cx = (x - 128) * 20.0 / 256.0;
    const double cy = (y - 128) * 20.0 / 256.0;
    const double hw = sx * 10.0 / 255.0;
    const double hh = sy == 0 ? hw * w / h : sy * 10.0 / 255.0;
    return {static_cast<int>(w / 2 + cx * w / 20), static_cast<int>(h / 2 + cy * h / 20),
            static_cast<int>(hw * w / 20), static_cast<int>(hh * h / 20)};
}

struct Picture {
    int width = 0;
    int height = 0;
    std::unique_ptr<unsigned char, void (*)(void*)> pixels{nullptr, stbi_image_free};

    explicit Picture(const std::string& path) {
        int n = 0;
        pixels.reset(stbi_load(path.c_str(), &width, &height, &n, 3));
    }
    bool loaded() const { return pixels != nullptr; }
    // (r, g, b) of pixel x, y as text, for readable failures.
    std::string at(int x, int y) const {
        if (!loaded() || x < 0 || y < 0 || x >= width || y >= height) {
            return "outside";
        }
        const unsigned char* p = pixels.get() + (y * width + x) * 3;
        return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
    }
    bool near(int x, int y, int r, int g, int b, int tolerance) const {
        if (!loaded() || x < 0 || y < 0 || x >= width || y >= height) {
            return false;
        }
        const unsigned char* p = pixels.get() + (y * width + x) * 3;
        return std::abs(p[0] - r) <= tolerance && std::abs(p[1] - g) <= tolerance &&
               std::abs(p[2] - b) <= tolerance;
    }
};

class KmsVmTest : public ::testing::Test {
  public:
    static const std::string& skipReason() { return skip_reason; }

  protected:
    static void SetUpTestSuite() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        skip_reason = "the virtual machine checks run in the plain build only";
        return;
#endif
        if (getuid() != 0) {
            skip_reason = "the virtual machine needs root";
            return;
        }
        // LUMETRA_KMS_VM_DIR keeps the guest's evidence there for a look afterwards.
        const char* keep = getenv("LUMETRA_KMS_VM_DIR");
        char templ[] = "/tmp/lumetra-kmsvm-XXXXXX";
        dir = keep != nullptr ? keep : mkdtemp(templ);
        runCommand("rm -rf '" + dir + "/out'");
        makeWorkDir();
        const std::string here = LUMETRA_SOURCE_DIR "/tests/kms_vm";
        writeFile(dir + "/go.sh", "exec bash " + here + "/guest-checks.sh " +
                                      LumetraTest::builtProgram("rpi_lumetra") + " " +
                                      LUMETRA_BINARY_DIR "/tests/kms_probe " +
                                      LUMETRA_BINARY_DIR "/tests/kms_swap_count\n");
        const std::string sizes = " --res " + std::to_string(kWidth) + "x" +
                                  std::to_string(kHeight) + " --res " + std::to_string(kWidth2) +
                                  "x" + std::to_string(kHeight2);
        // Boot 8 to 30 s, more under load; the guest's own checks have deadlines too.
        const int rc =
            runCommand(here + "/run-guest --workdir " + dir + " --out " + dir + "/out" + sizes +
                       " --timeout 600 " + dir + "/go.sh > " + dir + "/run.log 2>&1");
        if (rc == 125) {
            std::string log = readFile(dir + "/run.log");
            size_t end = log.find_last_not_of('\n');
            size_t start = log.rfind('\n', end);
            skip_reason =
                "guest did not boot: " + log.substr(start == std::string::npos ? 0 : start + 1,
                                                    end == std::string::npos ? 0 : end - start);
        } else if (rc != 0) {
            std::fprintf(stderr, "%s\n", readFile(dir + "/run.log").c_str());
        }
        std::fprintf(stderr, "kms guest: %s\n", readFile(dir + "/out/timings.json").c_str());
    }

    static void TearDownTestSuite() {
        if (!dir.empty() && getenv("LUMETRA_KMS_VM_DIR") == nullptr) {
            runCommand("rm -rf '" + dir + "'");
        }
    }

    void SetUp() override {
        if (!skip_reason.empty()) {
            GTEST_SKIP() << skip_reason;
        }
    }

    // A white picture for the box, a 10 s clip (red top, blue bottom, a white bar moving
    // to the right) and a 4 x 4 picture of four colours: red, green over blue, yellow.
    static void makeWorkDir() {
        runCommand("mkdir -p " + dir + "/textures");
        LumetraTest::writePng(dir + "/textures/000.png", 4, 4, std::vector<uint8_t>(64, 255));
        std::vector<uint8_t> quarters;
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                const int q = (y / 2) * 2 + x / 2;
                quarters.insert(quarters.end(), {static_cast<uint8_t>(q == 0 || q == 3 ? 255 : 0),
                                                 static_cast<uint8_t>(q == 1 || q == 3 ? 255 : 0),
                                                 static_cast<uint8_t>(q == 2 ? 255 : 0), 255});
            }
        }
        LumetraTest::writePng(dir + "/textures/002.png", 4, 4, quarters);
        runCommand(
            "ffmpeg -nostdin -loglevel error -f lavfi -i "
            // drawbox places its box once, so the bar is overlaid, which moves it per frame
            "\"color=c=red:s=64x64:r=25:d=10,drawbox=y=32:h=32:c=blue:t=fill[bg];"
            "color=c=white:s=8x64:r=25:d=10[bar];[bg][bar]overlay=x='mod(t*5.6,56)':y=0\" "
            "-c:v libx264 -pix_fmt yuv420p -f h264 " +
            dir + "/textures/001.h264");
        writeFile(dir + "/config.txt", "ANZAHL=3\nDMX_START=1\n");
    }

    static std::string file(const std::string& name) {
        return readFile(dir + "/" + name);
    }
    static std::string shot(const std::string& name) {
        return dir + "/out/" + name + ".png";
    }

    // A plain box of one colour: its centre and 3 pixels inside each edge in that colour, 3
    // pixels outside black.
    static void expectBox(const Picture& p, const Box& b, int r, int g, int bl) {
        EXPECT_TRUE(p.near(b.cx, b.cy, r, g, bl, 2)) << p.at(b.cx, b.cy);
        for (int side : {-1, 1}) {
            const int x_in = b.cx + side * (b.half_w - 3);
            const int y_in = b.cy + side * (b.half_h - 3);
            EXPECT_TRUE(p.near(x_in, b.cy, r, g, bl, 2)) << x_in << ": " << p.at(x_in, b.cy);
            EXPECT_TRUE(p.near(b.cx, y_in, r, g, bl, 2)) << y_in << ": " << p.at(b.cx, y_in);
            const int x_out = b.cx + side * (b.half_w + 3);
            const int y_out = b.cy + side * (b.half_h + 3);
            EXPECT_TRUE(p.near(x_out, b.cy, 0, 0, 0, 2)) << x_out << ": " << p.at(x_out, b.cy);
            EXPECT_TRUE(p.near(b.cx, y_out, 0, 0, 0, 2)) << y_out << ": " << p.at(b.cx, y_out);
        }
    }

    // The magenta box the scene puts right of and above the centre, 4 x 3 units on 4:3.
    static void expectMagentaBox(const Picture& p) {
        expectBox(p, boxOf(p.width, p.height, 192, 96, 51, 51), 255, 0, 255);
        EXPECT_TRUE(p.near(5, 5, 0, 0, 0, 2)) << p.at(5, 5);
    }

    // The four-colour picture, upright: each quarter's centre in its colour.
    static void expectQuarters(const Picture& p) {
        const Box b = boxOf(p.width, p.height, 192, 192, 51, 0);
        const int qx = b.half_w / 2;
        const int qy = b.half_h / 2;
        EXPECT_TRUE(p.near(b.cx - qx, b.cy - qy, 255, 0, 0, 2)) << p.at(b.cx - qx, b.cy - qy);
        EXPECT_TRUE(p.near(b.cx + qx, b.cy - qy, 0, 255, 0, 2)) << p.at(b.cx + qx, b.cy - qy);
        EXPECT_TRUE(p.near(b.cx - qx, b.cy + qy, 0, 0, 255, 2)) << p.at(b.cx - qx, b.cy + qy);
        EXPECT_TRUE(p.near(b.cx + qx, b.cy + qy, 255, 255, 0, 2)) << p.at(b.cx + qx, b.cy + qy);
        EXPECT_TRUE(p.near(b.cx + b.half_w + 3, b.cy, 0, 0, 0, 2));
    }

    static std::string dir;
    static std::string skip_reason;
};

std::string KmsVmTest::dir;
std::string KmsVmTest::skip_reason;

TEST_F(KmsVmTest, NothingNamedFindsTheKmsScreenAndArtNetPlacesTheCanvas) {
    Picture scene(shot("scene"));
    ASSERT_TRUE(scene.loaded()) << file("run.log");
    EXPECT_EQ(scene.width, kWidth);
    EXPECT_EQ(scene.height, kHeight);
    expectMagentaBox(scene);
    EXPECT_EQ(file("auto.rc"), "0\n") << file("auto.err");
}

TEST_F(KmsVmTest, AScreenThatComesAfterTheStartIsWaitedForAndDrawnOn) {
    EXPECT_NE(file("appears-before.txt").find("No such file"), std::string::npos)
        << file("appears-before.txt");
    Picture appears(shot("appears"));
    ASSERT_TRUE(appears.loaded()) << file("appears.err");
    expectMagentaBox(appears);
    EXPECT_EQ(file("appears.rc"), "0\n") << file("appears.err");
}

TEST_F(KmsVmTest, EveryFrameAfterTheFirstWaitsForItsPageFlip) {
    std::smatch m;
    const std::string err = file("auto.err");
    ASSERT_TRUE(
        std::regex_search(err, m,
                          std::regex("lumetra: kms: ([0-9]+) frames shown, ([0-9]+) page flips, "
                                     "([0-9]+) refused")))
        << err;
    const long frames = std::stol(m[1]);
    EXPECT_GE(frames, 10);
    EXPECT_EQ(std::stol(m[2]), frames - 1);  // the first frame sets the mode instead
    EXPECT_EQ(m[3], "0");
}

TEST_F(KmsVmTest, TheSwapPathAllocatesNothingPerFrame) {
    EXPECT_EQ(file("swap-count.txt"), "swap allocations: 0 in 100 frames\n");
}

TEST_F(KmsVmTest, TearDownPutsTheConsoleBack) {
    const std::string before = file("console-state.txt");
    ASSERT_NE(before.find("fb="), std::string::npos) << before;
    EXPECT_NE(before.find("fb=0 "), 0u);
    EXPECT_EQ(file("auto-after.txt"), before);  // after SIGTERM
    EXPECT_EQ(file("mode-after.txt"), before);  // after `q`, from another mode
    Picture restored(shot("restored"));
    EXPECT_TRUE(restored.near(320, 240, 0, 0, 170, 2)) << restored.at(320, 240);
}

TEST_F(KmsVmTest, TexturesAreDrawnTexelByTexelNotFlat) {
    // A guest whose emulated CPU runs llvmpipe's code wrongly shows one texel all over.
    for (const char* name : {"scene", "later"}) {
        Picture p(shot(name));
        ASSERT_TRUE(p.loaded()) << name;
        expectQuarters(p);
    }
}

TEST_F(KmsVmTest, AClipPlaysUprightOnTheKmsScreen) {
    Picture first(shot("scene"));
    Picture later(shot("later"));
    ASSERT_TRUE(first.loaded() && later.loaded());
    // Canvas 1: the 64 x 64 clip, 4 x 4 units at world (-5, 0).
    const int cx = kWidth / 2 - 5 * kWidth / 20;
    const int cy = kHeight / 2;
    const int q = kWidth / 20;  // one unit: a quarter of the clip's half
    // Upright: the upper row red and the lower one blue, but where the white bar is; the
    // bar's left edge tells the frame.
    auto barAt = [&](const Picture& p) {
        int red = 0;
        int blue = 0;
        int bar = -1;
        for (int x = cx - 2 * q + 2; x < cx + 2 * q - 2; ++x) {
            red += p.near(x, cy - q, 255, 0, 0, 60) ? 1 : 0;
            blue += p.near(x, cy + q, 0, 0, 255, 60) ? 1 : 0;
            if (bar < 0 && p.near(x, cy - q, 255, 255, 255, 60) &&
                p.near(x, cy + q, 255, 255, 255, 60)) {
                bar = x;
            }
        }
        EXPECT_GE(red, 4 * q - 4 - q) << "upper row at " << cy - q;  // less the bar, q / 2 wide
        EXPECT_GE(blue, 4 * q - 4 - q) << "lower row at " << cy + q;
        return bar;
    };
    const int first_bar = barAt(first);
    const int later_bar = barAt(later);
    EXPECT_NE(first_bar, later_bar) << "the later picture shows the same frame of the clip";
}

TEST_F(KmsVmTest, ASecondFixtureWhileOneRunsGivesALineNeverASignal) {
    // Named, with its card held by the first one.
    const std::string named = file("second-kms.err");
    EXPECT_NE(named.find("lumetra: display backend 'kms' failed to open: /dev/dri/card0: not "
                         "DRM master"),
              std::string::npos)
        << named;
    EXPECT_NE(named.find("this->display!=((EGLDisplay)0)"), std::string::npos) << named;
    EXPECT_EQ(file("second-kms.rc"), "134\n");
    // With nothing named it moves on quietly (to the second card) and then finds the port
    // taken.
    const std::string quiet = file("second-auto.err");
    EXPECT_EQ(quiet.find("kms"), std::string::npos) << quiet;
    EXPECT_EQ(file("second-auto.rc"), "1\n") << quiet;
}

TEST_F(KmsVmTest, LumetraModeChoosesAnotherModeOfTheConnector) {
    Picture mode(shot("mode"));
    ASSERT_TRUE(mode.loaded());
    EXPECT_EQ(mode.width, 800);
    EXPECT_EQ(mode.height, 600);
    expectMagentaBox(mode);
    expectQuarters(mode);
    EXPECT_NE(file("mode-screen.txt").find("Screen: 800 x 600"), std::string::npos)
        << file("mode-screen.txt");
    EXPECT_EQ(file("mode.rc"), "0\n") << file("mode.err");
}

TEST_F(KmsVmTest, ArtNetMovesSizesColoursAndStrobesACanvas) {
    const Box from = boxOf(kWidth, kHeight, 192, 96, 51, 51);
    const Box to = boxOf(kWidth, kHeight, 64, 64, 26, 26);
    int shown = 0;
    int hidden = 0;
    for (int n = 0; n < 40; ++n) {
        Picture p(shot("strobe" + std::to_string(n)));
        if (!p.loaded()) {
            ASSERT_GE(n, 4) << "too few screens of the strobe";
            break;
        }
        if (p.near(to.cx, to.cy, 0, 255, 255, 2)) {
            expectBox(p, to, 0, 255, 255);
            ++shown;
        } else {
            EXPECT_TRUE(p.near(to.cx, to.cy, 0, 0, 0, 2)) << n << ": " << p.at(to.cx, to.cy);
            ++hidden;
        }
        EXPECT_TRUE(p.near(from.cx, from.cy, 0, 0, 0, 2)) << n << ": " << p.at(from.cx, from.cy);
        expectQuarters(p);  // the other canvases do not strobe
    }
    EXPECT_GT(shown, 0);
    EXPECT_GT(hidden, 0);
    // Strobe off: shown for good, where it was moved to.
    Picture steady(shot("moved"));
    ASSERT_TRUE(steady.loaded());
    expectBox(steady, to, 0, 255, 255);
    EXPECT_TRUE(steady.near(from.cx, from.cy, 0, 0, 0, 2)) << steady.at(from.cx, from.cy);
}

TEST_F(KmsVmTest, TheSecondCardShowsItsMonitorsPreferredSize) {
    Picture size(shot("size"));
    ASSERT_TRUE(size.loaded());
    EXPECT_EQ(size.width, kWidth2);
    EXPECT_EQ(size.height, kHeight2);
    expectMagentaBox(size);
    expectQuarters(size);
    EXPECT_NE(file("size-screen.txt").find("Screen: 1280 x 720"), std::string::npos)
        << file("size-screen.txt");
    EXPECT_EQ(file("size.rc"), "0\n") << file("size.err");
}

TEST_F(KmsVmTest, OffscreenWithAnUnusableRenderNodeDrawsOrAssertsNeverCrashes) {
    const std::string rc = file("headless.rc");
    const std::string err = file("headless.err");
    if (rc == "134\n") {
        EXPECT_NE(err.find("Assertion"), std::string::npos) << err;
    } else {
        EXPECT_EQ(rc, "0\n") << err;
        EXPECT_EQ(file("headless.txt"), "listening\n");
    }
}

// Every flip outlasts its 1 ms wait: each keeps its buffer until its own event, which is
// counted once and never taken for a later flip's; the first late flip is told. Then
// another program takes the screen and gives it back: the first refusal is told and the
// picture returns.
TEST_F(KmsVmTest, LateFlipsKeepTheirBuffersAndATakenScreenComesBack) {
    const std::string err = file("taken.err");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        err, m,
        std::regex("([0-9]+) frames shown, ([0-9]+) page flips, ([0-9]+) refused, ([0-9]+) late, "
                   "([0-9]+) dropped, ([0-9]+) mode sets")))
        << err;
    const long frames = std::stol(m[1]), flips = std::stol(m[2]), mode_sets = std::stol(m[6]);
    EXPECT_GT(std::stol(m[4]), 0) << err;
    EXPECT_GT(std::stol(m[3]), 0) << err;
    EXPECT_GE(mode_sets, 2) << err;  // the first, and the one that took the screen back
    // One event per flip; the last may still have been in flight at the end.
    EXPECT_LE(flips, frames - mode_sets) << err;
    EXPECT_GE(flips, frames - mode_sets - 1) << err;
    EXPECT_NE(err.find("a page flip has not completed after 1 ms"), std::string::npos) << err;
    EXPECT_NE(err.find("refused ("), std::string::npos) << err;
    EXPECT_EQ(file("taken.rc"), "0\n") << err;
    EXPECT_EQ(file("steal.rc"), "0\n") << file("steal.txt");

    Picture late(shot("late"));
    ASSERT_TRUE(late.loaded());
    expectQuarters(late);
    // A console switch away and back leaves the picture (the console cannot take the
    // screen from its master).
    for (const char* name : {"vt2", "vt1"}) {
        Picture p(shot(name));
        ASSERT_TRUE(p.loaded()) << name;
        expectQuarters(p);
    }
    Picture taken(shot("taken"));
    EXPECT_TRUE(taken.near(kWidth / 2, kHeight / 2, 0, 0, 255, 2)) << taken.at(320, 240);
    Picture returned(shot("returned"));
    ASSERT_TRUE(returned.loaded());
    expectQuarters(returned);
}

TEST_F(KmsVmTest, AReceiveBufferBelowTheAskedSizeIsToldInOneLine) {
    const std::string rmem_max = file("rmem_max.txt");
    ASSERT_FALSE(rmem_max.empty()) << file("rcvbuf.err");
    ASSERT_LT(std::stol(rmem_max), 4 << 20);
    const std::string without = file("rcvbuf.err");
    size_t lines = 0;
    for (size_t at = 0; (at = without.find("UDP receive buffer", at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 1u) << without;
    EXPECT_EQ(file("auto.err").find("UDP receive buffer"), std::string::npos);  // as root
}

}  // namespace

// All cases are one ctest test, so a guest that never ran shows as a skip there (exit status
// 77), not as a pass.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    if (rc == 0 && !KmsVmTest::skipReason().empty()) {
        std::printf("KmsVm skipped: %s\n", KmsVmTest::skipReason().c_str());
        return 77;
    }
    return rc;
}
