// Outside commands (mediainfo) are read with a time limit and killed after it.

#include "platform/videocore/command_reply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using Lumetra::readCommandReply;

double secondsFor(const std::string& command, int timeout_ms, std::string* reply, bool* ok,
                  bool* timed_out) {
    char buffer[200];
    const auto begin = std::chrono::steady_clock::now();
    *ok = readCommandReply(command, timeout_ms, buffer, sizeof(buffer), timed_out);
    *reply = buffer;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

TEST(CommandReply, FirstLineOfACommandThatEndsInTime) {
    std::string reply;
    bool ok = false, timed_out = true;
    secondsFor("echo one; echo two", 10000, &reply, &ok, &timed_out);
    EXPECT_TRUE(ok);
    EXPECT_FALSE(timed_out);
    EXPECT_EQ(reply, "one\n");
    secondsFor("true", 10000, &reply, &ok, &timed_out);
    EXPECT_TRUE(ok);
    EXPECT_EQ(reply, "");
    // Long lines are cut to the buffer.
    secondsFor("head -c 500 /dev/zero | tr '\\0' a", 10000, &reply, &ok, &timed_out);
    EXPECT_EQ(reply, std::string(199, 'a'));
}

TEST(CommandReply, HangingCommandsAreKilledAtTheLimit) {
    std::string reply;
    bool ok = true, timed_out = false;
    // Silent for ever; an answer but no end; children that keep the output open.
    for (const char* command :
         {"sleep 100", "echo answer; sleep 100", "(sleep 100 &); sleep 100"}) {
        const double seconds = secondsFor(command, 300, &reply, &ok, &timed_out);
        EXPECT_FALSE(ok) << command;
        EXPECT_TRUE(timed_out) << command;
        EXPECT_LT(seconds, 5.0) << command;
    }
}

}  // namespace
