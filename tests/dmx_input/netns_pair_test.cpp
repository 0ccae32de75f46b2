// The namespace pair the network tests stand on: a set-up that fails half-way must leave
// none of its namespaces behind, since its destructor never runs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "dmx_input/netns_support.h"

namespace Lumetra {
namespace {

using ArtnetTest::NetnsPair;

std::string namespacesOfThisProcess() {
    return ArtnetTest::shellOutput("ip netns list | grep -e '-" + std::to_string(getpid()) +
                                   "-' || true");
}

TEST(NetnsPair, SetUpFailingHalfWayRemovesWhatItMade) {
    if (!NetnsPair::available()) {
        GTEST_SKIP() << NetnsPair::unavailableReason();
    }
    // Both namespaces are made before the veth pair, whose interface name is too long.
    EXPECT_THROW(NetnsPair("an-interface-name-too-long"), std::runtime_error);
    EXPECT_EQ(namespacesOfThisProcess(), "");

    {
        NetnsPair pair;
        EXPECT_NE(namespacesOfThisProcess(), "");
    }
    EXPECT_EQ(namespacesOfThisProcess(), "");
}

}  // namespace
}  // namespace Lumetra
