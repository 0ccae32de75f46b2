// LUMETRA_MODE, as the KMS screen reads it: "WIDTHxHEIGHT" or "WIDTHxHEIGHT@HZ".

#include <gtest/gtest.h>

#include "platform/mesa/display/kms_output.h"

namespace {

using Lumetra::Platform::Mesa::KmsModeRequest;
using Lumetra::Platform::Mesa::parseKmsMode;

TEST(KmsModeTest, SizeAndOptionalRefresh) {
    KmsModeRequest r;
    ASSERT_TRUE(parseKmsMode("1280x720", &r));
    EXPECT_EQ(r.width, 1280u);
    EXPECT_EQ(r.height, 720u);
    EXPECT_EQ(r.refresh, 0u);
    ASSERT_TRUE(parseKmsMode("1920x1080@50", &r));
    EXPECT_EQ(r.width, 1920u);
    EXPECT_EQ(r.height, 1080u);
    EXPECT_EQ(r.refresh, 50u);
    ASSERT_TRUE(parseKmsMode("16384x1@1000", &r));
}

TEST(KmsModeTest, AnythingElseIsRefusedAndLeavesTheRequestAlone) {
    for (const char* bad : {"",
                            "x",
                            "1280",
                            "1280x",
                            "x720",
                            "1280X720",
                            "1280x720@",
                            "1280x720@0",
                            "0x720",
                            "1280x0",
                            "16385x720",
                            "1280x720@1001",
                            "-1280x720",
                            "+1280x720",
                            "1280x-720",
                            "1280x720@-50",
                            " 1280x720",
                            "1280x720 ",
                            "1280x720@50Hz",
                            "1280x720x3",
                            "99999999999999999999x720",
                            "1280\tx720"}) {
        KmsModeRequest r;
        r.width = 7;
        EXPECT_FALSE(parseKmsMode(bad, &r)) << '"' << bad << '"';
        EXPECT_EQ(r.width, 7u) << bad;
    }
}

}  // namespace
