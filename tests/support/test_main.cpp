// The main of every test program: each runs in a network namespace of its own (see
// own_network.h), so a fixture, olad or desk software on this machine cannot take the
// ports the tests bind, and the tests take none of theirs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/own_network.h"

namespace {

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
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
