// The main of every test program: each runs in a network namespace of its own (see
// own_network.h), so a fixture, olad or desk software on this machine cannot take the
// ports the tests bind, and the tests take none of theirs.
#include <gtest/gtest.h>

#include <cstdio>
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
    return RUN_ALL_TESTS();
}
