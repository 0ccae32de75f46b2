// The main of every test program: each runs in a network namespace of its own (see
// own_network.h), so a fixture, olad or desk software on this machine cannot take the
// ports the tests bind, and the tests take none of theirs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/own_network.h"
#include "support/test_support.h"

namespace {

// A run asked to draw with OpenGL ES 1.x where the driver refuses it has nothing to test;
// the line is what ctest takes for a skip.
bool gles1Missing() {
    const char* version = std::getenv("LUMETRA_GLES");
    return version != nullptr && std::strcmp(version, "1") == 0 && !LumetraTest::gles1Offered();
}

bool onlyListing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0) {
            return true;
        }
    }
    return false;
}

// ctest shows a skipped test only as "Skipped": each skip and its reason are added to
// Testing/skipped.txt of the build, which `make test` prints after the run.
class SkipLog : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo& test) override {
        const testing::TestResult& result = *test.result();
        if (!result.Skipped()) {
            return;
        }
        std::string reason;
        for (int i = 0; i < result.total_part_count(); ++i) {
            if (result.GetTestPartResult(i).skipped()) {
                reason = result.GetTestPartResult(i).message();
            }
        }
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        const std::string line = std::string(test.test_suite_name()) + "." + test.name() + ": " +
                                 (reason.empty() ? "no reason given" : reason) + "\n";
        // One write with O_APPEND: lines of test programs run side by side stay whole.
        const int fd = open(LUMETRA_BINARY_DIR "/Testing/skipped.txt",
                            O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            const ssize_t written = write(fd, line.data(), line.size());
            (void)written;  // a lost line costs only the reason in the log
            close(fd);
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (!onlyListing(argc, argv)) {
        const std::string error = LumetraTest::enterOwnNetwork();
        if (!error.empty()) {
            std::fprintf(stderr, "tests use this machine's network (%s)\n", error.c_str());
        }
    }
    if (!onlyListing(argc, argv) && gles1Missing()) {
        std::printf("[  SKIPPED ] LUMETRA_GLES=1, but this build or driver has no OpenGL ES 1.x\n");
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new SkipLog);
    return RUN_ALL_TESTS();
}
