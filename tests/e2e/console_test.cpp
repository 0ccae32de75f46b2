// The real program in a real terminal: console lines, quit key and signals.

#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/fixture_process.h"
#include "support/test_support.h"

namespace {

using LumetraTest::TerminalFixture;

const char kOffscreen[] = "LUMETRA_DISPLAY=headless LUMETRA_SCREEN=320x180";
// Start-up under the sanitizers takes a while; shut-down must not.
const double kStartSeconds = 60.0;
const double kQuitSeconds = 1.5;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

class ConsoleTest : public ::testing::Test {
  protected:
    LumetraTest::TempWorkDir work;
};

TEST_F(ConsoleTest, HelpAnywherePrintsOnlyTheBannerAndOpensNothing) {
    const std::string program = LumetraTest::builtProgram("rpi_lumetra");
    for (const std::string args : {"--help", "--silent --help", "x --help --silent"}) {
        // An unusable display setting would complain if anything were opened.
        std::string out = LumetraTest::commandOutput("LUMETRA_DISPLAY=none " + program + " " +
                                                     args + " 2>&1; echo status=$?");
        EXPECT_EQ(out, "Raspberry Pi Lumetra | Version: 0.3.1\nstatus=0\n") << args;
    }
}

TEST_F(ConsoleTest, ShowsTitleConfigScreenAndFrameRateAndQuitsOnLowerCaseQ) {
    LumetraTest::writeFile(work.file("config.txt"), "DMX_START=1\r\nANZAHL=3\r\nZOOM=2\r\n");
    TerminalFixture term(work.path(), "--unknown-option", kOffscreen);
    ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
    std::vector<std::string> screen = lines(term.screen());
    ASSERT_GE(screen.size(), 5u);
    EXPECT_EQ(screen[0], "Raspberry Pi Lumetra | Version: 0.3.1");
    EXPECT_EQ(screen[1], "Config: subnet:0 universe:0 anzahl:3 DMX:1 Zoom:2");
    EXPECT_EQ(screen[2], "Screen: 320 x 180");
    EXPECT_EQ(screen[3], "Init Done! Starting main loop... Press 'q' to quit!");
    EXPECT_EQ(screen[4].substr(0, 6), " FPS: ");
    EXPECT_EQ(screen[4].find_first_not_of(" FPS:.0123456789"), std::string::npos) << screen[4];
    EXPECT_NE(term.screen(true).find("\x1b[1mRaspberry Pi Lumetra"), std::string::npos);
    EXPECT_EQ(term.tmuxFormat("#{cursor_flag}"), "0\n");

    term.sendKeys("Q");
    term.sendKeys("x");
    EXPECT_EQ(term.waitForExit(1.0), -1) << "Q must not quit";
    term.sendKeys("q");
    EXPECT_EQ(term.waitForExit(kQuitSeconds), 0);
    EXPECT_EQ(term.tmuxFormat("#{cursor_flag} #{alternate_on}"), "1 0\n");  // restored
}

class SignalTest : public ConsoleTest,
                   public ::testing::WithParamInterface<std::tuple<int, bool>> {};

TEST_P(SignalTest, SignalEndsTheProgramWithoutAKeyPress) {
    const int signal_number = std::get<0>(GetParam());
    const bool silent = std::get<1>(GetParam());
    TerminalFixture term(work.path(), silent ? "--silent" : "", kOffscreen);
    if (silent) {
        // Nothing shows: the bound Art-Net port says start-up is done.
        ASSERT_TRUE(LumetraTest::waitForArtnetPortTaken(kStartSeconds));
    } else {
        ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds));
    }
    ASSERT_TRUE(term.running()) << "pid " << term.pid() << " status "
                                << LumetraTest::readFile(work.file(".status"));
    const double sent = LumetraTest::monotonicSeconds();
    kill(term.pid(), signal_number);
    kill(term.pid(), signal_number);  // a second one changes nothing
    EXPECT_EQ(term.waitForExit(kQuitSeconds), 0);
    RecordProperty("quit_seconds", std::to_string(LumetraTest::monotonicSeconds() - sent));
    if (silent) {
        std::string text = term.screen();
        EXPECT_EQ(text.find_first_not_of("\n "), std::string::npos) << text;
    }
}

INSTANTIATE_TEST_SUITE_P(InteractiveAndSilent, SignalTest,
                         ::testing::Combine(::testing::Values(SIGINT, SIGTERM), ::testing::Bool()));

TEST_F(ConsoleTest, SilentModeWritesNothingAtAll) {
    const std::string program = LumetraTest::builtProgram("rpi_lumetra");
    std::string out = LumetraTest::commandOutput("env " + std::string(kOffscreen) +
                                                 " timeout --preserve-status -s TERM 3 " + program +
                                                 " --silent > out.txt 2> err.txt; echo status=$?");
    EXPECT_EQ(out, "status=0\n");
    EXPECT_EQ(LumetraTest::readFile("out.txt"), "");
    EXPECT_EQ(LumetraTest::readFile("err.txt"), "");
}

}  // namespace
