// A long show in short: 25 canvases in rings of up to 63 copies, spinning, with every DMX
// cycle different, over real Art-Net. The program's resident memory must stay flat once
// it has warmed up, on the offscreen display and in an X window alike.

#include <gtest/gtest.h>

#include <cstdio>

#include "dmx_input/artnet_test_support.h"
#include "soak/soak_show.h"

namespace {

using LumetraTest::SoakProgram;

const int kCanvases = 25;
const double kWarmupSeconds = 5.0;
const double kMeasureSeconds = 8.0;
// Allocator and driver caches settle within a few MB; the fault this guards against grew
// by several MB per second.
const long kAllowedGrowthKb = 4 * 1024;

class MemorySoak : public ::testing::TestWithParam<SoakProgram::Display> {
  protected:
    void SetUp() override {
        if (!Lumetra::ArtnetTest::artnetPortFree()) {
            GTEST_SKIP() << "UDP 6454 is taken";
        }
    }
    Lumetra::ArtnetTest::ScratchDir dir;
};

TEST_P(MemorySoak, ResidentMemoryStaysFlatWithChangingRings) {
    SoakProgram program(dir.path(), GetParam(), 640, 360, kCanvases);
    ASSERT_TRUE(program.waitUntilListening(60.0)) << program.log();
    LumetraTest::ChangingDesk desk(kCanvases);
    LumetraTest::SoakFigures figures =
        LumetraTest::playShow(program, desk, kWarmupSeconds, kMeasureSeconds);
    ASSERT_TRUE(figures.survived) << program.log();
    ASSERT_GT(figures.warm_kb, 0);
    std::printf(
        "resident: start %ld kB, after warm-up %ld kB, peak %ld kB, end %ld kB; %ld cycles\n",
        figures.start_kb, figures.warm_kb, figures.peak_kb, figures.end_kb, figures.cycles);
    EXPECT_LE(figures.peak_kb - figures.warm_kb, kAllowedGrowthKb)
        << "start " << figures.start_kb << " kB, after warm-up " << figures.warm_kb << " kB, peak "
        << figures.peak_kb << " kB, end " << figures.end_kb << " kB over " << figures.cycles
        << " DMX cycles";
    EXPECT_EQ(program.stop(), 0) << program.log();
}

INSTANTIATE_TEST_SUITE_P(Displays, MemorySoak,
                         ::testing::Values(SoakProgram::Display::Offscreen,
                                           SoakProgram::Display::X11),
                         [](const ::testing::TestParamInfo<SoakProgram::Display>& info) {
                             return info.param == SoakProgram::Display::X11 ? "X11" : "Offscreen";
                         });

}  // namespace
