#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace {

using Lumetra::LogLevel;

TEST(LogTest, ARepeatedLineIsCountedAndToldWithTheNextOne) {
    testing::internal::CaptureStderr();
    for (int i = 0; i < 1235; ++i) {
        Lumetra::logLine(LogLevel::Warning, "flip refused (%s)", "EBUSY");
    }
    Lumetra::logLine(LogLevel::Warning, "screen back");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "lumetra: flip refused (EBUSY)\n"
              "lumetra: flip refused (EBUSY) (repeated 1,234 times)\n"
              "lumetra: screen back\n");
}

// Under systemd stderr is the journal's stream, named in JOURNAL_STREAM as "dev:ino".
TEST(LogTest, TheJournalGetsTheLevelAndFixedMessagesKeepTheirWords) {
    testing::internal::CaptureStderr();
    struct stat st;
    ASSERT_EQ(fstat(2, &st), 0);
    setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(),
           1);
    Lumetra::logLine(LogLevel::Error, "cannot write snapshot");
    Lumetra::logFixed(LogLevel::Error, stderr, "Error: socket()\n");
    unsetenv("JOURNAL_STREAM");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "<3>lumetra: cannot write snapshot\n<3>Error: socket()\n");
}

}  // namespace
