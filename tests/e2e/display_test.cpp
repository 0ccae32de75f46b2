// The real program's outputs: an X11 window of the X screen's size, and snapshots.

#include <gtest/gtest.h>
#include <signal.h>
#include <stb/stb_image.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/fixture_process.h"
#include "support/test_support.h"

namespace {

using LumetraTest::TerminalFixture;

const double kStartSeconds = 60.0;

class DisplayTest : public ::testing::Test {
  protected:
    LumetraTest::TempWorkDir work;
};

TEST_F(DisplayTest, UnderXvfbAWindowCoversTheXScreen) {
    LumetraTest::writeFile(work.file("xvfb.sh"),
                           "exec xvfb-run -a -s '-screen 0 640x480x24' \"$@\"\n");
    TerminalFixture term(work.path(), "", "", "sh " + work.file("xvfb.sh"));
    ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
    EXPECT_NE(term.screen().find("Screen: 640 x 480"), std::string::npos) << term.screen();
    term.sendKeys("q");
    EXPECT_EQ(term.waitForExit(5.0), 0) << term.screen();
}

TEST_F(DisplayTest, NamedBackendThatFailsSaysSoInOneLine) {
    const std::string program = LumetraTest::builtProgram("rpi_lumetra");
    std::string out = LumetraTest::commandOutput("env -u DISPLAY LUMETRA_DISPLAY=x11 " + program +
                                                 " --silent 2>&1; echo status=$?");
    EXPECT_EQ(out.find("lumetra: display backend 'x11' failed to open\n"), 0u) << out;
    EXPECT_NE(out.find("this->display!=((EGLDisplay)0)"), std::string::npos) << out;
    EXPECT_NE(out.find("void Lumetra::Renderer::init_ogl()"), std::string::npos) << out;
    EXPECT_NE(out.find("src/canvas/renderer.cpp"), std::string::npos) << out;
    EXPECT_EQ(out.find("status=0"), std::string::npos);
}

TEST_F(DisplayTest, NamedKmsWithoutACardNamesTheReasonThenAsserts) {
    const std::string program = LumetraTest::builtProgram("rpi_lumetra");
    std::string out =
        LumetraTest::commandOutput("LUMETRA_DISPLAY=kms LUMETRA_DRM_DEVICE=/nonexistent/card7 " +
                                   program + " --silent 2>&1; echo status=$?");
    EXPECT_EQ(out.find("lumetra: display backend 'kms' failed to open: /nonexistent/card7: "
                       "cannot open: No such file or directory\n"),
              0u)
        << out;
    EXPECT_NE(out.find("this->display!=((EGLDisplay)0)"), std::string::npos) << out;
    EXPECT_EQ(out.find("status=0"), std::string::npos);
}

TEST_F(DisplayTest, FallingBackToOffscreenUnaskedSaysSoUnlessSilent) {
    // No X display and no DRM card (this machine has none; elsewhere a missing one is named).
    const std::string env =
        std::string("LUMETRA_SCREEN=64x48 ") +
        (access("/dev/dri", F_OK) == 0 ? "LUMETRA_DRM_DEVICE=/nonexistent" : "");
    const std::string unset = "env -u DISPLAY -u LUMETRA_DISPLAY -u LUMETRA_DRM_DEVICE";
    {
        // On the console; and on the terminal before the console took it, so there again
        // once the console has ended.
        TerminalFixture term(work.path(), "", env, unset);
        ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
        EXPECT_NE(term.screen().find("no screen found"), std::string::npos) << term.screen();
        EXPECT_NE(term.screen().find("drawing offscreen"), std::string::npos) << term.screen();
        term.sendKeys("q");
        EXPECT_EQ(term.waitForExit(5.0), 0) << term.screen();
        EXPECT_NE(term.screen().find("lumetra: no screen found ("), std::string::npos)
            << term.screen();
    }
    {
        // Standard error to a log while the console runs on the terminal: exactly one line.
        const std::string log = work.file("stderr.txt");
        LumetraTest::writeFile(work.file("log.sh"), "exec \"$@\" 2> " + log + "\n");
        TerminalFixture term(work.path(), "", env, "sh " + work.file("log.sh") + " " + unset);
        ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
        term.sendKeys("q");
        EXPECT_EQ(term.waitForExit(5.0), 0) << term.screen();
        const std::string err = LumetraTest::readFile(log);
        EXPECT_EQ(err.find("lumetra: no screen found ("), 0u) << err;
        EXPECT_NE(err.find("), drawing offscreen\n"), std::string::npos) << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
    // Silent: not a word.
    const std::string program = LumetraTest::builtProgram("rpi_lumetra");
    std::string out =
        LumetraTest::commandOutput(unset + " " + env + " timeout --preserve-status -s TERM 3 " +
                                   program + " --silent 2>&1; echo status=$?");
    EXPECT_EQ(out, "status=0\n");
}

TEST_F(DisplayTest, SignalUsr1WritesTheNextFrameAsPng) {
    // 2 x 2 picture: red green / blue white; the one default canvas shows it 20 x 20 pixels
    // at the centre of a 200 x 100 output.
    LumetraTest::writePng(work.file("textures/000.png"), 2, 2,
                          {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255});
    const std::string snapshot = work.file("frame.png");
    TerminalFixture term(
        work.path(), "",
        "LUMETRA_DISPLAY=headless LUMETRA_SCREEN=200x100 LUMETRA_SNAPSHOT=" + snapshot);
    // Until the renderer is up, SIGUSR1 would still end the process.
    ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds));
    int w = 0, h = 0, n = 0;
    unsigned char* px = nullptr;
    for (int i = 0; i < 600 && px == nullptr; ++i) {
        kill(term.pid(), SIGUSR1);
        usleep(100000);
        px = stbi_load(snapshot.c_str(), &w, &h, &n, 4);
    }
    ASSERT_NE(px, nullptr);
    ASSERT_EQ(w, 200);
    ASSERT_EQ(h, 100);
    auto at = [&](int x, int y) {
        return std::vector<int>(px + (y * w + x) * 4, px + (y * w + x) * 4 + 4);
    };
    EXPECT_EQ(at(95, 45), (std::vector<int>{255, 0, 0, 255}));
    EXPECT_EQ(at(105, 45), (std::vector<int>{0, 255, 0, 255}));
    EXPECT_EQ(at(95, 55), (std::vector<int>{0, 0, 255, 255}));
    EXPECT_EQ(at(105, 55), (std::vector<int>{255, 255, 255, 255}));
    EXPECT_EQ(at(5, 5), (std::vector<int>{0, 0, 0, 255}));
    stbi_image_free(px);
    kill(term.pid(), SIGTERM);
    EXPECT_EQ(term.waitForExit(5.0), 0) << term.screen();
}

}  // namespace
