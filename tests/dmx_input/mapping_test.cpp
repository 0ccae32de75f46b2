// The DMX personality on real canvases of an offscreen 64x36 screen (ratio 16:9).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"

namespace Lumetra {
namespace {

class Mapping : public ::testing::Test {
  protected:
    void build(int canvases, int dmx_start = 1, float m = 1.0f) {
        receiver.reset();
        screen.reset();
        screen = std::make_unique<ArtnetTest::HeadlessScreen>(canvases);
        ArtnetReceiverProbe::Settings settings;
        settings.screen = screen->manager();
        settings.canvases_id = screen->groupId();
        settings.dmx_start = dmx_start;
        settings.scale_multiplier = m;
        receiver.reset(ArtnetReceiverProbe::create(settings));
        probe = std::make_unique<ArtnetReceiverProbe>(receiver.get());
    }
    void SetUp() override { build(1); }
    void TearDown() override {
        receiver.reset();
        screen.reset();
    }
    // Sets channel `offset` of canvas `i`'s block (start address 1) and maps the frame.
    void setChannel(int offset, int value, int canvas = 0) {
        probe->dmx512()[20 * canvas + offset] = static_cast<unsigned char>(value);
    }
    void map() { probe->updateCanvasValues(); }
    Canvas* canvas(int i = 0) { return screen->canvases()[i]; }
    float ratio() { return screen->manager()->getScreenRatio(); }
    // A canvas's own spin speed, seen through one animation step from angle 0.
    float speedOf(Canvas* c) {
        c->setRotation(0.0f);
        c->frameStep();
        return c->getRotation();
    }
    float ringSpeedOf(Canvas* c) {
        c->setRotationAll(0.0f);
        c->frameStep();
        return c->getRotationAll();
    }

    std::unique_ptr<ArtnetTest::HeadlessScreen> screen;
    std::unique_ptr<ArtnetReceiver> receiver;
    std::unique_ptr<ArtnetReceiverProbe> probe;
};

TEST_F(Mapping, AllZeroFrameGivesTheDocumentedCanvas) {
    build(2);
    canvas(1)->setRotation(33.0f);
    map();
    for (int i = 0; i < 2; ++i) {
        Canvas* c = canvas(i);
        EXPECT_EQ(c->getContentData(), 0);
        EXPECT_EQ(c->getAlpha(), 0.0f);
        EXPECT_EQ(c->getPositionX(), -10.0f);
        EXPECT_EQ(c->getPositionY(), static_cast<float>(-10.0 / static_cast<double>(ratio())));
        EXPECT_EQ(c->getScalingX(), 0.0f);
        EXPECT_EQ(c->getScalingY(), -1.0f);
        EXPECT_EQ(c->getNumber(), 0u);
        EXPECT_EQ(c->getZoom(), 0.0f);
        EXPECT_EQ(c->getR(), 0.0f);
        EXPECT_EQ(c->getG(), 0.0f);
        EXPECT_EQ(c->getB(), 0.0f);
        EXPECT_EQ(c->getShutterSet(), 0);
    }
    EXPECT_EQ(canvas(1)->getRotation(), 33.0f) << "speed channels in charge keep the angle";
    EXPECT_EQ(speedOf(canvas(0)), 10.4644775390625f);
    EXPECT_EQ(ringSpeedOf(canvas(0)), 10.4644775390625f);
}

TEST_F(Mapping, ColourAlphaPictureAndShutterTakeTheChannelAsIs) {
    setChannel(0, 200);
    setChannel(1, 255);
    setChannel(10, 255);
    setChannel(11, 128);
    setChannel(12, 1);
    setChannel(14, 251);
    map();
    EXPECT_EQ(canvas()->getContentData(), 200);
    EXPECT_EQ(canvas()->getAlpha(), 1.0f);
    EXPECT_EQ(canvas()->getR(), 1.0f);
    EXPECT_EQ(canvas()->getG(), 128.0f / 255.0f);
    EXPECT_EQ(canvas()->getB(), 1.0f / 255.0f);
    EXPECT_EQ(canvas()->getShutterSet(), 251);
}

TEST_F(Mapping, PositionsSpanTheViewAroundTheCentre) {
    setChannel(2, 255);
    setChannel(3, 128);
    map();
    EXPECT_EQ(canvas()->getPositionX(), 9.921875f);
    EXPECT_EQ(canvas()->getPositionY(), 0.0f);
    setChannel(3, 255);
    map();
    EXPECT_EQ(canvas()->getPositionY(),
              static_cast<float>(127.0 * 20.0 / 256.0 / static_cast<double>(ratio())));
}

TEST_F(Mapping, MultiplierScalesPositionsAndSizesButNotTheVerticalSize) {
    build(1, 1, 2.0f);
    setChannel(2, 0);
    setChannel(4, 255);
    setChannel(5, 255);
    setChannel(9, 255);
    map();
    EXPECT_EQ(canvas()->getPositionX(), -20.0f);
    EXPECT_EQ(canvas()->getScalingX(), 20.0f);
    EXPECT_EQ(canvas()->getZoom(), 20.0f);
    EXPECT_EQ(canvas()->getScalingY(), 10.0f / ratio());
    setChannel(5, 0);
    map();
    EXPECT_EQ(canvas()->getScalingY(), -1.0f);
}

// Values where single and double precision give different floats, so each formula's
// precision shows.
TEST_F(Mapping, SizesInSinglePrecision) {
    build(1, 1, 0.7f);
    setChannel(4, 3);
    setChannel(5, 7);
    map();
    const float m = 0.7f;
    const float r = ratio();
    EXPECT_EQ(canvas()->getScalingX(), 3.0f * m * 10.0f / 255.0f);
    EXPECT_NE(canvas()->getScalingX(), static_cast<float>(3.0 * m * 10.0 / 255.0));
    EXPECT_EQ(canvas()->getScalingY(), 7.0f * 10.0f / 255.0f / r);
    EXPECT_NE(canvas()->getScalingY(), static_cast<float>(7.0 * 10.0 / 255.0 / r));
}

TEST_F(Mapping, PositionsInDoublePrecision) {
    build(1, 1, 0.7f);
    setChannel(2, 4);
    setChannel(3, 4);
    map();
    const double m = 0.7f;
    const double r = ratio();
    EXPECT_EQ(canvas()->getPositionX(), static_cast<float>((4 - 128) * m * 20.0 / 256.0));
    EXPECT_NE(canvas()->getPositionX(), (4 - 128) * 0.7f * 20.0f / 256.0f);
    EXPECT_EQ(canvas()->getPositionY(), static_cast<float>((4 - 128) * m * 20.0 / 256.0 / r));
    EXPECT_NE(canvas()->getPositionY(), (4 - 128) * 0.7f * 20.0f / 256.0f / ratio());
}

TEST_F(Mapping, RingCountIsTheChannelDividedByFour) {
    const int cases[][2] = {{3, 0}, {4, 1}, {255, 63}};
    for (const auto& c : cases) {
        setChannel(7, c[0]);
        map();
        EXPECT_EQ(canvas()->getNumber(), static_cast<unsigned int>(c[1])) << c[0];
    }
}

TEST_F(Mapping, SpeedTableMatchesBitForBit) {
    const struct {
        int s;
        float speed;
    } table[] = {{0, 10.4644775390625f},
                 {64, 2.4224853515625f},
                 {119, 0.0439453125f},
                 {120, 0.0f},
                 {126, 0.0f},
                 {128, 0.0f},
                 {134, 0.0f},
                 {135, 359.9560546875f},
                 {191, 357.1875f},
                 {255, 348.75f}};
    for (const auto& row : table) {
        setChannel(15, row.s);
        setChannel(16, row.s);
        map();
        EXPECT_EQ(speedOf(canvas()), row.speed) << "s = " << row.s;
        EXPECT_EQ(ringSpeedOf(canvas()), row.speed) << "s = " << row.s;
    }
}

TEST_F(Mapping, SpeedChannel127ResetsTheAngleAnd126StopsWhereItStands) {
    canvas()->setRotation(100.0f);
    canvas()->setRotationAll(200.0f);
    setChannel(15, 126);
    setChannel(16, 126);
    map();
    EXPECT_EQ(canvas()->getRotation(), 100.0f);
    EXPECT_EQ(canvas()->getRotationAll(), 200.0f);
    canvas()->frameStep();
    EXPECT_EQ(canvas()->getRotation(), 100.0f);
    setChannel(15, 127);
    setChannel(16, 127);
    map();
    EXPECT_EQ(canvas()->getRotation(), 0.0f);
    EXPECT_EQ(canvas()->getRotationAll(), 0.0f);
    canvas()->frameStep();
    EXPECT_EQ(canvas()->getRotation(), 0.0f);
    EXPECT_EQ(canvas()->getRotationAll(), 0.0f);
}

TEST_F(Mapping, FixedAngleOverridesTheSpeedChannelOnEveryPass) {
    setChannel(6, 1);
    setChannel(15, 0);
    setChannel(8, 64);
    setChannel(16, 255);
    map();
    EXPECT_EQ(canvas()->getRotation(), -1.40625f);
    EXPECT_EQ(canvas()->getRotationAll(), -90.0f);
    canvas()->frameStep();  // speed 0: the canvas wraps the angle but does not turn
    EXPECT_EQ(canvas()->getRotation(), 358.59375f);
    map();
    EXPECT_EQ(canvas()->getRotation(), -1.40625f);
    setChannel(6, 255);
    map();
    EXPECT_EQ(canvas()->getRotation(), -358.59375f);
}

TEST_F(Mapping, EachCanvasReadsItsOwnBlockFromTheStartAddress) {
    build(3, 1);
    probe->dmx512()[40] = 99;   // DMX channel 41: canvas 2's picture
    probe->dmx512()[56] = 127;  // DMX channel 57: canvas 2's ring speed
    canvas(2)->setRotationAll(45.0f);
    map();
    EXPECT_EQ(canvas(0)->getContentData(), 0);
    EXPECT_EQ(canvas(1)->getContentData(), 0);
    EXPECT_EQ(canvas(2)->getContentData(), 99);
    EXPECT_EQ(canvas(2)->getRotationAll(), 0.0f);

    build(2, 101);
    probe->dmx512()[100] = 5;
    probe->dmx512()[120] = 6;
    map();
    EXPECT_EQ(canvas(0)->getContentData(), 5);
    EXPECT_EQ(canvas(1)->getContentData(), 6);
}

TEST_F(Mapping, UnchangedFrameStillRunsEverySetter) {
    setChannel(1, 255);
    map();
    canvas()->setAlpha(0.25f);
    canvas()->setContentData(7);
    map();
    EXPECT_EQ(canvas()->getAlpha(), 1.0f);
    EXPECT_EQ(canvas()->getContentData(), 0);
}

TEST_F(Mapping, BlocksOutsideTheFrameAreLeftAlone) {
    build(2, 480);  // the second block would end at channel 519
    probe->dmx512()[479] = 11;
    canvas(1)->setContentData(3);
    map();
    EXPECT_EQ(canvas(0)->getContentData(), 11);
    EXPECT_EQ(canvas(1)->getContentData(), 3);
}

TEST_F(Mapping, AnglesWrapIntoOneTurn) {
    EXPECT_EQ(probe->correctAngleRange(360.0f), 0.0f);
    EXPECT_EQ(probe->correctAngleRange(725.0f), 5.0f);
    EXPECT_EQ(probe->correctAngleRange(-1.0f), 359.0f);
    EXPECT_EQ(probe->correctAngleRange(-0.0f), -0.0f);
}

// The same rule as the canvas's: huge and non-finite angles come back at once.
TEST_F(Mapping, HugeAndNonFiniteAnglesReturnLikeTheCanvas) {
    Canvas reference("CONTENT_TEXTURE_256");
    for (float angle : {3.6e9f, -1e30f, std::numeric_limits<float>::max()}) {
        EXPECT_EQ(probe->correctAngleRange(angle), reference.correctAngleRange(angle)) << angle;
    }
    EXPECT_TRUE(std::isinf(probe->correctAngleRange(-std::numeric_limits<float>::infinity())));
    EXPECT_TRUE(std::isnan(probe->correctAngleRange(std::nanf(""))));
}

}  // namespace
}  // namespace Lumetra
