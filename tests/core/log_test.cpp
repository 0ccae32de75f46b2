#include "log/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace {

using Lumetra::LogLevel;

// stderr into a file for the test's lifetime, optionally posing as the journal's stream.
class CapturedStderr {
  public:
    explicit CapturedStderr(bool as_journal) {
        std::fflush(stderr);
        saved = dup(2);
        std::FILE* file = std::freopen(path.c_str(), "w", stderr);
        EXPECT_NE(file, nullptr);
        struct stat st;
        fstat(2, &st);
        if (as_journal) {
            setenv("JOURNAL_STREAM",
                   (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
        }
    }
    ~CapturedStderr() {
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
        unsetenv("JOURNAL_STREAM");
    }
    std::string text() {
        std::fflush(stderr);
        return LumetraTest::readFile(path);
    }

  private:
    LumetraTest::TempWorkDir work;
    std::string path = work.file("stderr.txt");
    int saved = -1;
};

TEST(LogTest, ARepeatedLineIsCountedAndToldWithTheNextOne) {
    CapturedStderr err(false);
    for (int i = 0; i < 1235; ++i) {
        Lumetra::logLine(LogLevel::Warning, "flip refused (%s)", "EBUSY");
    }
    Lumetra::logLine(LogLevel::Warning, "screen back");
    EXPECT_EQ(err.text(),
              "lumetra: flip refused (EBUSY)\n"
              "lumetra: flip refused (EBUSY) (repeated 1,234 times)\n"
              "lumetra: screen back\n");
}

TEST(LogTest, TheJournalGetsTheLevelAndFixedMessagesKeepTheirWords) {
    CapturedStderr err(true);
    Lumetra::logLine(LogLevel::Error, "cannot write snapshot");
    Lumetra::logFixed(LogLevel::Error, stderr, "Error: socket()\n");
    EXPECT_EQ(err.text(), "<3>lumetra: cannot write snapshot\n<3>Error: socket()\n");
}

}  // namespace
