// The console never holds up the show: keys, escape sequences and pastes do not stall a
// frame, and a console whose input ends or whose terminal goes away neither spins nor stops.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>

#include "e2e/show_probe.h"
#include "support/fixture_process.h"
#include "support/test_support.h"

namespace {

using LumetraTest::TerminalFixture;

const double kStartSeconds = 60.0;
const double kQuitSeconds = 1.5;
// A console that waits for the rest of an escape sequence while holding up the output
// would stall a frame for ncurses' escape delay; a long one makes that unmistakable.
const char kLongEscapeDelay[] = "ESCDELAY=3000";
// The frame rate shown is that of the last ten frames: a stall of one frame of T seconds
// shows as at most 10 / T. Idle frames take 1/60 s.
const double kLongestTenFrames = 1.0;
// Healthy, the program sleeps between frames (about 1 % of a core at 20 frames a second);
// a thread that spins takes a core, or what the machine's load leaves of one.
const double kIdleCpuShare = 0.10;

double shownFps(TerminalFixture& term) {
    std::string screen = term.screen();
    size_t at = screen.find(" FPS: ");
    if (at == std::string::npos) {
        return -1;
    }
    return std::atof(screen.c_str() + at + 6);
}

class ConsoleInputTest : public ::testing::Test {
  protected:
    // The lowest frame rate the console shows within `seconds`.
    double lowestFpsFor(TerminalFixture& term, double seconds) {
        double lowest = 1e9;
        const double end = LumetraTest::monotonicSeconds() + seconds;
        while (LumetraTest::monotonicSeconds() < end) {
            double fps = shownFps(term);
            if (fps > 0) {
                lowest = std::min(lowest, fps);
            }
            usleep(10000);
        }
        return lowest;
    }

    void expectNoStall(TerminalFixture& term, const std::string& what) {
        // Long enough for a stalled frame to end and show.
        const double lowest = lowestFpsFor(term, 4.0);
        const double longest_ten_frames = 10.0 / lowest;
        RecordProperty(what + "_longest_ten_frames_ms",
                       std::to_string(static_cast<int>(longest_ten_frames * 1000)));
        EXPECT_LT(longest_ten_frames, kLongestTenFrames) << what << ": lowest fps " << lowest;
        EXPECT_TRUE(term.running()) << what;
    }

    LumetraTest::TempWorkDir work;
};

TEST_F(ConsoleInputTest, EscapeSequencesAndALongPasteNeverStallAFrame) {
    TerminalFixture term(
        work.path(), "",
        std::string("LUMETRA_DISPLAY=headless LUMETRA_SCREEN=64x36 ") + kLongEscapeDelay);
    ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();

    term.sendKeys("Escape");
    expectNoStall(term, "escape");

    std::string burst;
    for (int i = 0; i < 40; ++i) {
        burst += " Up Down Left Right Home End PPage NPage F1 F5 F12 IC DC BTab M-x Escape";
    }
    term.sendKeys(burst);
    term.sendKeys("-H 1b 5b 31 3b");  // a sequence cut short at the end
    expectNoStall(term, "burst");

    std::string paste;
    for (int i = 0; paste.size() < 64 * 1024; ++i) {
        paste +=
            "Lorem ipsum dolor sit amet, consectetur adipiscing elit " + std::to_string(i) + "\n";
    }
    LumetraTest::writeFile(work.file("paste.txt"), paste);
    term.sendKeys("Escape");  // the paste starts while an escape is pending
    term.pasteFile(work.file("paste.txt"));
    expectNoStall(term, "paste");

    term.sendKeys("q");  // nothing above left the keys in a state where q is not heard
    EXPECT_EQ(term.waitForExit(kQuitSeconds), 0);
}

TEST_F(ConsoleInputTest, KeypadKeysWhoseSequenceHoldsAQDoNotQuit) {
    TerminalFixture term(work.path(), "", "LUMETRA_DISPLAY=headless LUMETRA_SCREEN=64x36");
    ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
    term.sendKeys("-H 1b 4f 71");  // keypad 1 in application mode: ESC O q
    term.sendKeys("-H 1b 5b 31 71");
    EXPECT_EQ(term.waitForExit(1.0), -1) << "a key sequence was taken for q";
    term.sendKeys("Escape");
    usleep(200000);  // a person's pause: the escape was the Escape key
    term.sendKeys("q");
    EXPECT_EQ(term.waitForExit(kQuitSeconds), 0);
}

// Ctrl-S would stop the terminal's output, and the render loop with it once a write
// blocks: flow control is off, the frame rate keeps changing on the screen.
TEST_F(ConsoleInputTest, CtrlSDoesNotStopTheConsole) {
    TerminalFixture term(work.path(), "", "LUMETRA_DISPLAY=headless LUMETRA_SCREEN=64x36");
    ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
    term.sendKeys("C-s");
    usleep(100000);
    std::set<std::string> shown;
    const double end = LumetraTest::monotonicSeconds() + 2.0;
    while (LumetraTest::monotonicSeconds() < end && shown.size() < 3) {
        shown.insert(term.screen());
        usleep(50000);
    }
    EXPECT_GE(shown.size(), 3u) << "the console stopped after Ctrl-S";
    term.sendKeys("C-q");
    term.sendKeys("q");
    EXPECT_EQ(term.waitForExit(kQuitSeconds), 0);
}

// The show must go on when nobody can type any more: end of input, a hang-up signal, the
// terminal closed. The key thread stops reading, nothing spins, DMX still works, and a
// SIGTERM still ends it through the clean tear-down.
class DetachedConsoleTest : public ConsoleInputTest,
                            public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        const int side = 8;
        LumetraTest::writePng(work.file("textures/001.png"), side, side,
                              std::vector<uint8_t>(side * side * 4, 255));
        LumetraTest::writeFile(work.file("config.txt"), "DMX_START=1\nGPIO_LED=17\n");
    }

    std::string env() {
        return "LUMETRA_DISPLAY=headless LUMETRA_SCREEN=64x36 LUMETRA_REFRESH=20 "
               "LUMETRA_SNAPSHOT=" +
               work.file("snap.png") + " LUMETRA_GPIO_ROOT=" + gpio.root;
    }

    ShowProbe::FakeGpio gpio{work.file("gpio")};
};

TEST_P(DetachedConsoleTest, KeepsShowingAndListeningWithoutSpinning) {
    const std::string how = GetParam();
    TerminalFixture term(work.path(), how == "eof" ? "< /dev/null" : "", env());
    ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
    const pid_t pid = term.pid();
    if (how == "hup") {
        kill(pid, SIGHUP);
    } else if (how == "closed") {
        term.closeTerminal();
    }
    usleep(300000);
    ASSERT_EQ(kill(pid, 0), 0) << how << " ended the show";

    const double share = ShowProbe::cpuShare(pid, 3.0);
    RecordProperty("cpu_permille", std::to_string(static_cast<int>(share * 1000)));
    EXPECT_LT(share, kIdleCpuShare) << how;

    EXPECT_NE(ShowProbe::centrePixel(pid, work.file("snap.png")), 0xffffff) << "shown too early";
    ShowProbe::showPictureOne();
    long pixel = -1;
    for (int i = 0; i < 50 && pixel != 0xffffff; ++i) {
        pixel = ShowProbe::centrePixel(pid, work.file("snap.png"));
    }
    EXPECT_EQ(pixel, 0xffffff) << how << ": DMX did not show the picture";

    const double sent = LumetraTest::monotonicSeconds();
    kill(pid, SIGTERM);
    ASSERT_TRUE(ShowProbe::waitGone(pid, kQuitSeconds));
    RecordProperty(
        "quit_ms",
        std::to_string(static_cast<int>((LumetraTest::monotonicSeconds() - sent) * 1000)));
    if (how != "closed") {
        EXPECT_EQ(term.waitForExit(kQuitSeconds), 0);
    }
    if (getuid() == 0) {  // the LED is driven by root only
        EXPECT_EQ(gpio.value(), "0");
        EXPECT_EQ(gpio.unexported(), "17");
    }
}

INSTANTIATE_TEST_SUITE_P(EndOfInputHangUpAndClosedTerminal, DetachedConsoleTest,
                         ::testing::Values("eof", "hup", "closed"));

}  // namespace
