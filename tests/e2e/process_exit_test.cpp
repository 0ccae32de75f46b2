// How the program ends: stray signals do not end it, a fatal start-up failure leaves the
// terminal as it found it, and a quit request during a stuck start-up is obeyed in time.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "e2e/show_probe.h"
#include "support/fixture_process.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace {

using LumetraTest::TerminalFixture;

const double kStartSeconds = 60.0;
const double kQuitSeconds = 1.5;
// The program ends a stuck start-up within 0.45 s of the request; ThreadSanitizer's own
// work at exit then takes another second or two.
#if defined(__SANITIZE_THREAD__)
const double kStartupQuitSeconds = 4.0;
#else
const double kStartupQuitSeconds = 1.0;
#endif
const char kOffscreen[] = "LUMETRA_DISPLAY=headless LUMETRA_SCREEN=64x36 LUMETRA_REFRESH=20";

// Runs the program inside a wrapper that records the program's own pid in .program and,
// once it has ended, the terminal's modes (stty -a) in .stty; the wrapper ends with the
// program's status.
std::string writeWrapper(const LumetraTest::TempWorkDir& work) {
    const std::string path = work.file("wrap.sh");
    LumetraTest::writeFile(path,
                           "#!/bin/sh\n"
                           "sh -c 'echo $$ > .program; exec \"$@\"' sh \"$@\"\n"
                           "status=$?\n"
                           "stty -a > .stty 2>&1\n"
                           "exit $status\n");
    chmod(path.c_str(), 0755);
    return path;
}

// The terminal is in its normal mode: typed keys echo and lines are edited.
void expectNormalTerminal(const LumetraTest::TempWorkDir& work) {
    const std::string modes = LumetraTest::readFile(work.file(".stty"));
    EXPECT_NE(modes.find(" icanon"), std::string::npos) << modes;
    EXPECT_EQ(modes.find("-icanon"), std::string::npos) << modes;
    EXPECT_NE(modes.find(" echo "), std::string::npos) << modes;
    EXPECT_EQ(modes.find("-echo "), std::string::npos) << modes;
    EXPECT_EQ(modes.find("-ixon"), std::string::npos) << modes;
}

pid_t programPid(const LumetraTest::TempWorkDir& work, double seconds) {
    const double end = LumetraTest::monotonicSeconds() + seconds;
    do {
        std::string text = LumetraTest::readFile(work.file(".program"));
        if (!text.empty()) {
            return static_cast<pid_t>(std::stol(text));
        }
        usleep(10000);
    } while (LumetraTest::monotonicSeconds() < end);
    return -1;
}

class StraySignalTest : public ::testing::Test {
  protected:
    LumetraTest::TempWorkDir work;
    ShowProbe::FakeGpio gpio{work.file("gpio")};
};

// SIGUSR1 (without a snapshot file), SIGUSR2, SIGALRM, SIGPIPE, SIGHUP, SIGTSTP, once and
// in a burst, do not end the show; the SIGTERM after them ends it cleanly.
TEST_F(StraySignalTest, MeaninglessSignalsAreIgnoredAndTheEndIsClean) {
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent" : "console");
        LumetraTest::writeFile(work.file("config.txt"), "GPIO_LED=17\n");
        TerminalFixture term(work.path(), silent ? "--silent" : "",
                             std::string(kOffscreen) + " LUMETRA_GPIO_ROOT=" + gpio.root);
        const double end = LumetraTest::monotonicSeconds() + kStartSeconds;
        // The receiver, the last step of start-up, exports the pin (root only).
        while (getuid() == 0 && LumetraTest::readFile(gpio.root + "/export") != "17" &&
               LumetraTest::monotonicSeconds() < end) {
            usleep(20000);
        }
        if (!silent) {
            ASSERT_TRUE(term.waitForText("FPS:", kStartSeconds)) << term.screen();
        } else if (getuid() != 0) {
            // Nothing shows: the bound Art-Net port says start-up is done.
            ASSERT_TRUE(LumetraTest::waitForArtnetPortTaken(kStartSeconds));
        }
        const pid_t pid = term.pid();
        for (int round = 0; round < 20; ++round) {
            for (int signal_number : {SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGHUP, SIGTSTP}) {
                kill(pid, signal_number);
            }
        }
        usleep(500000);
        ASSERT_TRUE(term.running()) << "status " << LumetraTest::readFile(work.file(".status"));
        kill(pid, SIGTERM);
        EXPECT_EQ(term.waitForExit(kQuitSeconds), 0) << term.screen();
        if (getuid() == 0) {
            EXPECT_EQ(gpio.value(), "0");
            EXPECT_EQ(gpio.unexported(), "17");
        }
        LumetraTest::writeFile(gpio.root + "/unexport", "");
        LumetraTest::writeFile(gpio.root + "/export", "");
    }
}

// Waits (at most two seconds) until process `pid` blocks some signal.
void waitUntilSignalsHeld(pid_t pid) {
    const std::string status = "/proc/" + std::to_string(pid) + "/status";
    const double end = LumetraTest::monotonicSeconds() + 2.0;
    while (LumetraTest::monotonicSeconds() < end) {
        std::ifstream in(status);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("SigBlk:", 0) == 0 &&
                line.find_first_not_of("0\t ", 7) != std::string::npos) {
                return;
            }
        }
        usleep(100);
    }
}

// A script signals the fixture it has just started: SIGUSR1, SIGHUP or SIGTERM 1, 10 and
// 100 ms after the exec, while the libraries load and the display comes up. The first two
// never end it, and the early snapshot request is kept for the first frame; SIGTERM ends
// it cleanly.
TEST(EarlySignalTest, SignalsFromTheFirstMillisecondAreObeyed) {
    for (int signal_number : {SIGUSR1, SIGHUP, SIGTERM}) {
        for (int ms : {1, 10, 100}) {
            SCOPED_TRACE(std::string(strsignal(signal_number)) + " after " + std::to_string(ms) +
                         " ms");
            LumetraTest::TempWorkDir work;
            LumetraTest::SnapshotProgram program(work.path(), 64, 36, 20);
            // From the moment the program holds signals back: before its first instruction no
            // program can, and on a loaded machine the exec alone may take a millisecond.
            waitUntilSignalsHeld(program.processId());
            usleep(static_cast<useconds_t>(ms * 1000));
            kill(program.processId(), signal_number);
            if (signal_number == SIGTERM) {
                EXPECT_TRUE(program.waitForEnd(kStartSeconds));
                EXPECT_EQ(program.exitStatus(), 0);
                continue;
            }
            const double end = LumetraTest::monotonicSeconds() + kStartSeconds;
            while (signal_number == SIGUSR1 &&
                   LumetraTest::readFile(program.snapshotPath()).empty() &&
                   LumetraTest::monotonicSeconds() < end && !program.waitForEnd(0.02)) {
            }
            EXPECT_FALSE(program.waitForEnd(0.3)) << "status " << program.exitStatus();
            EXPECT_TRUE(signal_number != SIGUSR1 ||
                        !LumetraTest::readFile(program.snapshotPath()).empty());
            program.stop();
            EXPECT_EQ(program.exitStatus(), 0);
        }
    }
}

// A terminal curses does not know (a service without TERM) is no reason to refuse the
// show: it runs without a console and a SIGTERM ends it as usual.
TEST(UnknownTerminalTest, RunsTheShowWithoutAConsole) {
    LumetraTest::TempWorkDir work;
    TerminalFixture term(work.path(), "", std::string(kOffscreen) + " TERM=no-such-terminal");
    // Nothing shows: the bound Art-Net port says start-up is done.
    ASSERT_TRUE(LumetraTest::waitForArtnetPortTaken(kStartSeconds)) << term.screen();
    ASSERT_TRUE(term.running()) << term.screen();
    EXPECT_EQ(term.screen().find("Error opening terminal"), std::string::npos) << term.screen();
    kill(term.pid(), SIGTERM);
    EXPECT_EQ(term.waitForExit(kQuitSeconds), 0) << term.screen();
}

// A fatal start-up failure: the message, its stream and status as before, and the terminal
// back in its normal mode with the message readable on it.
TEST(FatalExitTest, PortTakenRestoresTheTerminalAndKeepsTheMessage) {
    LumetraTest::TempWorkDir work;
    int taken = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(6454);
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    TerminalFixture term(work.path(), "2> err.txt", kOffscreen, writeWrapper(work));
    EXPECT_EQ(term.waitForExit(kStartSeconds), 1);
    close(taken);
    EXPECT_NE(term.screen().find("ArtnetReceiver: bind(): Kann Portnummern 6454 nicht binden "
                                 "(Address already in use)"),
              std::string::npos)
        << term.screen();
    EXPECT_EQ(LumetraTest::readFile(work.file("err.txt")), "");
    EXPECT_EQ(term.tmuxFormat("#{cursor_flag} #{alternate_on}"), "1 0\n");
    expectNormalTerminal(work);
}

// A failed assertion (no display): the process dies of it as before, the terminal gets its
// modes back, and what the assertion printed stays on the screen.
TEST(FatalExitTest, FailedAssertionRestoresTheTerminalModes) {
    LumetraTest::TempWorkDir work;
    TerminalFixture term(work.path(), "", "LUMETRA_DISPLAY=x11 DISPLAY=", writeWrapper(work));
    EXPECT_EQ(term.waitForExit(kStartSeconds), 128 + SIGABRT);
    // The message may wrap at the terminal's edge anywhere.
    std::string joined = term.screen();
    joined.erase(std::remove(joined.begin(), joined.end(), '\n'), joined.end());
    EXPECT_NE(joined.find("this->display!=((EGLDisplay)0)"), std::string::npos) << term.screen();
    EXPECT_EQ(term.tmuxFormat("#{cursor_flag}"), "1\n");
    expectNormalTerminal(work);
}

// Start-up busy for seconds with large pictures (thirty 2000x2000 PNGs of noise), on a
// worker thread or on the main thread: `q`, SIGINT and SIGTERM still end the program
// within a second, with the terminal restored.
class StartupQuitTest : public ::testing::TestWithParam<std::tuple<std::string, int>> {};

TEST_P(StartupQuitTest, QuitDuringAStuckStartUpEndsWithinASecond) {
    const std::string how = std::get<0>(GetParam());
    const int load_threads = std::get<1>(GetParam());
    LumetraTest::TempWorkDir work;
    ASSERT_EQ(LumetraTest::runCommand(
                  "cd " + work.file("textures") +
                  " && ffmpeg -nostdin -v error -f lavfi -i "
                  "'nullsrc=s=2000x2000,geq=random(1)*255:128:128' -frames:v 1 100.png"
                  " && for i in $(seq 101 129); do ln 100.png $i.png; done"),
              0);
    const std::string env =
        std::string(kOffscreen) + " LUMETRA_LOAD_THREADS=" + std::to_string(load_threads);
    TerminalFixture term(work.path(), "", env, writeWrapper(work));
    ASSERT_TRUE(term.waitForText("Loading pictures", kStartSeconds)) << term.screen();
    usleep(500000);  // the loading is still busy
    ASSERT_EQ(term.waitForExit(0), -1) << term.screen();
    const pid_t pid = programPid(work, 5.0);
    ASSERT_GT(pid, 0);

    const double sent = LumetraTest::monotonicSeconds();
    if (how == std::string("q")) {
        term.sendKeys("q");
    } else {
        kill(pid, how == std::string("SIGINT") ? SIGINT : SIGTERM);
    }
    EXPECT_TRUE(ShowProbe::waitGone(pid, kStartupQuitSeconds)) << how;
    RecordProperty(
        "quit_ms",
        std::to_string(static_cast<int>((LumetraTest::monotonicSeconds() - sent) * 1000)));
    EXPECT_EQ(term.waitForExit(kQuitSeconds), 0);
    expectNormalTerminal(work);
}

INSTANTIATE_TEST_SUITE_P(KeysAndSignalsOnWorkerOrMainThread, StartupQuitTest,
                         ::testing::Combine(::testing::Values(std::string("q"),
                                                              std::string("SIGINT"),
                                                              std::string("SIGTERM")),
                                            ::testing::Values(0, 2)));

}  // namespace
