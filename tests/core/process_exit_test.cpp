// Ending the process from anywhere: the terminal is put back first, then the message; and
// a quit request during a start-up that is stuck still ends the process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>

#include "fatal_exit.h"
#include "startup_guard.h"

namespace {

void announceRestore() {
    std::fputs("restored|", stderr);
}

TEST(FatalExitTest, RestoresTheTerminalOnceThenPrintsAndExitsWithOne) {
    EXPECT_EXIT(
        {
            Lumetra::setTerminalRestorer(announceRestore);
            Lumetra::fatalExit(stderr, "message %d\n", 7);
        },
        ::testing::ExitedWithCode(1), "^restored\\|message 7\n$");
}

TEST(StartupGuardTest, AStuckStartUpEndsWithStatusZeroAfterTheGrace) {
    EXPECT_EXIT(
        {
            Lumetra::StartupGuard guard([] { return true; }, std::chrono::milliseconds(100));
            for (;;) {
                pause();  // stuck where no flag is looked at
            }
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(StartupGuardTest, AStartUpThatEndsInTimeIsLeftAlone) {
    std::atomic<bool> quit{false};
    Lumetra::StartupGuard guard([&quit] { return quit.load(); }, std::chrono::seconds(5));
    quit.store(true);
    usleep(200000);  // the guard has seen the request and waits
    const auto begin = std::chrono::steady_clock::now();
    guard.finish();  // the tear-down has ended
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
}

TEST(StartupGuardTest, FinishingWithoutAQuitRequestReturnsAtOnce) {
    Lumetra::StartupGuard guard([] { return false; }, std::chrono::seconds(5));
    const auto begin = std::chrono::steady_clock::now();
    guard.finish();
    guard.finish();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(1));
}

}  // namespace
