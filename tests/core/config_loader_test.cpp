#include "config_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/test_support.h"

namespace {

using Lumetra::ConfigLoader;

class ConfigLoaderTest : public ::testing::Test {
  protected:
    ConfigLoader load(const std::string& text) {
        LumetraTest::writeFile(work.file("config.txt"), text);
        return ConfigLoader();
    }
    LumetraTest::TempWorkDir work;
};

TEST_F(ConfigLoaderTest, MissingFileKeepsTheDefaults) {
    ConfigLoader c;
    EXPECT_EQ(c.getArtnetSubnet(), 0);
    EXPECT_EQ(c.getArtnetUniverse(), 0);
    EXPECT_EQ(c.getVormelNum(), 1);
    EXPECT_EQ(c.getVormelDMXStart(), 100);
    EXPECT_EQ(c.getZoomType(), 1);
    EXPECT_FLOAT_EQ(c.getScalingMultiplier(), 1.0f);
    EXPECT_EQ(c.getGpioLed(), -1);
}

// Opening a FIFO for reading waits for a writer: start-up must not hang on one.
TEST_F(ConfigLoaderTest, FifoDirectoryOrDeviceIsAMissingFile) {
    alarm(60);  // a hang ends the test instead of the test run
    ASSERT_EQ(mkfifo("config.txt", 0644), 0);
    EXPECT_EQ(ConfigLoader().getVormelDMXStart(), 100);
    ASSERT_EQ(unlink("config.txt"), 0);
    ASSERT_EQ(symlink("/dev/zero", "config.txt"), 0);
    EXPECT_EQ(ConfigLoader().getVormelNum(), 1);
    ASSERT_EQ(unlink("config.txt"), 0);
    ASSERT_EQ(mkdir("config.txt", 0755), 0);
    EXPECT_EQ(ConfigLoader().getArtnetSubnet(), 0);
    ASSERT_EQ(rmdir("config.txt"), 0);
    // A symlink to a regular file is read, its last line without a line end too.
    LumetraTest::writeFile("real.txt", "UNIVERSE=3\nSUBNET=7");
    ASSERT_EQ(symlink("real.txt", "config.txt"), 0);
    ConfigLoader linked;
    EXPECT_EQ(linked.getArtnetUniverse(), 3);
    EXPECT_EQ(linked.getArtnetSubnet(), 7);
    alarm(0);
}

TEST_F(ConfigLoaderTest, ExampleFileIsReadWithItsComment) {
    ConfigLoader c = load(
        "SUBNET=0\nUNIVERSE=1   # projector universe\nDMX_START=1\nANZAHL=8\nZOOM=2\n"
        "SCAL_MULT=1.5\nGPIO_LED=18\n");
    EXPECT_EQ(c.getArtnetUniverse(), 1);
    EXPECT_EQ(c.getVormelDMXStart(), 1);
    EXPECT_EQ(c.getVormelNum(), 8);
    EXPECT_EQ(c.getZoomType(), 2);
    EXPECT_FLOAT_EQ(c.getScalingMultiplier(), 1.5f);
    EXPECT_EQ(c.getGpioLed(), 18);
}

TEST_F(ConfigLoaderTest, BlanksTabsAndCarriageReturnsAreDroppedEverywhere) {
    EXPECT_EQ(load("SUBNET = 5   # stage left\n").getArtnetSubnet(), 5);
    EXPECT_EQ(load("SUB\tNET=\t1 2\r\n").getArtnetSubnet(), 12);
    ConfigLoader crlf = load("SUBNET=3\r\nUNIVERSE=4\r\nANZAHL=2\r\n");
    EXPECT_EQ(crlf.getArtnetSubnet(), 3);
    EXPECT_EQ(crlf.getArtnetUniverse(), 4);
    EXPECT_EQ(crlf.getVormelNum(), 2);
    EXPECT_EQ(load("SUBNET=7").getArtnetSubnet(), 7);  // last line without newline
}

TEST_F(ConfigLoaderTest, UnknownLowerCaseAndCommentedKeysChangeNothing) {
    ConfigLoader c = load("subnet=5\n#SUBNET=6\nFOO=3\n\n   \nUNIVERSEX=4\n");
    EXPECT_EQ(c.getArtnetSubnet(), 0);
    EXPECT_EQ(c.getArtnetUniverse(), 0);
}

TEST_F(ConfigLoaderTest, NumbersStopAtTheFirstForeignCharacter) {
    EXPECT_EQ(load("SUBNET=3x\n").getArtnetSubnet(), 3);
    EXPECT_EQ(load("SUBNET=+4\n").getArtnetSubnet(), 4);
    EXPECT_FLOAT_EQ(load("SCAL_MULT=2.5e0abc\n").getScalingMultiplier(), 2.5f);
}

TEST_F(ConfigLoaderTest, ValuesOutsideTheirRangeFallBack) {
    EXPECT_EQ(load("UNIVERSE=16\n").getArtnetUniverse(), 0);
    EXPECT_EQ(load("UNIVERSE=-1\n").getArtnetUniverse(), 0);
    EXPECT_EQ(load("ANZAHL=0\n").getVormelNum(), 1);
    EXPECT_EQ(load("ANZAHL=26\n").getVormelNum(), 1);
    EXPECT_EQ(load("DMX_START=491\n").getVormelDMXStart(), 100);
    EXPECT_FLOAT_EQ(load("SCAL_MULT=0.5\n").getScalingMultiplier(), 0.5f);
    for (const char* bad : {"SCAL_MULT=10\n", "SCAL_MULT=0\n", "SCAL_MULT=-2\n", "SCAL_MULT=nan\n"})
        EXPECT_FLOAT_EQ(load(bad).getScalingMultiplier(), 1.0f) << bad;
    EXPECT_EQ(load("GPIO_LED=31\n").getGpioLed(), -1);
    EXPECT_EQ(load("GPIO_LED=0\n").getGpioLed(), 0);
}

TEST_F(ConfigLoaderTest, ZoomOnlyEverSwitchesToTwo) {
    EXPECT_EQ(load("ZOOM=2\nZOOM=1\n").getZoomType(), 2);
    EXPECT_EQ(load("ZOOM=3\n").getZoomType(), 1);
}

TEST_F(ConfigLoaderTest, RepeatedKeysLastLineWins) {
    EXPECT_EQ(load("SUBNET=1\nSUBNET=9\n").getArtnetSubnet(), 9);
}

TEST_F(ConfigLoaderTest, ChannelLimitIsCheckedAfterEveryLine) {
    ConfigLoader start_first = load("DMX_START=1\nANZAHL=25\n");
    EXPECT_EQ(start_first.getVormelNum(), 25);
    EXPECT_EQ(start_first.getVormelDMXStart(), 1);
    ConfigLoader count_first = load("ANZAHL=25\nDMX_START=1\n");
    EXPECT_EQ(count_first.getVormelNum(), 1);
    EXPECT_EQ(count_first.getVormelDMXStart(), 1);
    for (const char* text : {"DMX_START=490\nANZAHL=2\n", "ANZAHL=2\nDMX_START=490\n"}) {
        ConfigLoader c = load(text);
        EXPECT_EQ(c.getVormelNum(), 1) << text;
        EXPECT_EQ(c.getVormelDMXStart(), 100) << text;
    }
}

TEST_F(ConfigLoaderTest, ValuesThatAreNoNumberKeepTheCurrentValue) {
    ConfigLoader c = load(
        "SUBNET=4\nSUBNET=\nSUBNET=abc\nUNIVERSE=2\nUNIVERSE=99999999999999999999\n"
        "SCAL_MULT=2\nSCAL_MULT=x\nSCAL_MULT=1e999\nGPIO_LED=5\nGPIO_LED=-\n");
    EXPECT_EQ(c.getArtnetSubnet(), 4);
    EXPECT_EQ(c.getArtnetUniverse(), 2);
    EXPECT_FLOAT_EQ(c.getScalingMultiplier(), 2.0f);
    EXPECT_EQ(c.getGpioLed(), 5);
}

}  // namespace

namespace {

using Lumetra::ConfigLoader;

class SacnUniverseConfig : public ::testing::Test {
  protected:
    int sacnUniverse(const std::string& text) {
        LumetraTest::writeFile(work.file("config.txt"), text);
        return ConfigLoader().getSacnUniverse();
    }
    LumetraTest::TempWorkDir work;
};

TEST_F(SacnUniverseConfig, WithoutTheKeyItFollowsTheArtnetUniverse) {
    EXPECT_EQ(ConfigLoader("no-such-config.txt").getSacnUniverse(), 1);
    EXPECT_EQ(sacnUniverse("SUBNET=2\nUNIVERSE=3\n"), 16 * 2 + 3 + 1);
    EXPECT_EQ(sacnUniverse("SUBNET=15\nUNIVERSE=15\n"), 256);
    // Lines after the key do not matter for its value; lines without it do.
    EXPECT_EQ(sacnUniverse("SACN_UNIVERSE=7\nSUBNET=2\n"), 7);
}

TEST_F(SacnUniverseConfig, RangeZeroAndFallback) {
    EXPECT_EQ(sacnUniverse("SACN_UNIVERSE=1\n"), 1);
    EXPECT_EQ(sacnUniverse("SACN_UNIVERSE = 63999 # top\n"), 63999);
    EXPECT_EQ(sacnUniverse("SACN_UNIVERSE=0\n"), 0) << "sACN off";
    EXPECT_EQ(sacnUniverse("UNIVERSE=4\nSACN_UNIVERSE=64000\n"), 5);
    EXPECT_EQ(sacnUniverse("UNIVERSE=4\nSACN_UNIVERSE=-1\n"), 5);
    EXPECT_EQ(sacnUniverse("SACN_UNIVERSE=9\nSACN_UNIVERSE=x\n"), 9) << "not a number";
    EXPECT_EQ(sacnUniverse("SACN_UNIVERSE=99999999999\n"), 1) << "too big for an int";
    EXPECT_EQ(sacnUniverse("sacn_universe=9\n"), 1);
}

}  // namespace

namespace {

TEST(PictureReloadConfig, OnUnlessZeroAndBadValuesFallBackToOn) {
    LumetraTest::TempWorkDir work;
    const struct {
        const char* text;
        int reload;
    } cases[] = {{"", 1},           {"RELOAD=0\n", 0},           {"RELOAD = 0 # staging\n", 0},
                 {"RELOAD=1\n", 1}, {"RELOAD=0\nRELOAD=2\n", 1}, {"RELOAD=0\nRELOAD=off\n", 0},
                 {"reload=0\n", 1}};
    for (const auto& c : cases) {
        LumetraTest::writeFile(work.file("config.txt"), c.text);
        EXPECT_EQ(Lumetra::ConfigLoader().getPictureReload(), c.reload) << c.text;
    }
}

// Names keep their inner spaces (desks show them); the short name is cut to the 17
// characters an ArtPollReply has room for.
TEST(RigConfig, NetNamesAndClipSync) {
    LumetraTest::TempWorkDir work;
    LumetraTest::writeFile(work.file("config.txt"),
                           "NET=5\n  NAME= Stage left projector, upper # rig 2\nCLIP_SYNC=1\n");
    Lumetra::ConfigLoader c;
    EXPECT_EQ(c.getArtnetNet(), 5);
    EXPECT_EQ(c.getLongName(), "Stage left projector, upper");
    EXPECT_EQ(c.getShortName(), "Stage left projec");
    EXPECT_EQ(c.getClipSync(), 1);
    LumetraTest::writeFile(work.file("config.txt"),
                           "NET=128\nSHORT_NAME=SL\nNAME=x\nCLIP_SYNC=2\n");
    Lumetra::ConfigLoader d;
    EXPECT_EQ(d.getArtnetNet(), 0);
    EXPECT_EQ(d.getShortName(), "SL");
    EXPECT_EQ(d.getClipSync(), 0);
    EXPECT_EQ(Lumetra::ConfigLoader(work.file("none.txt")).getShortName(), "");
}

}  // namespace

namespace Lumetra {
namespace {

TEST(ConfigLoaderChannels, ThirtyTwoChannelBlocksMayEndOnTheLastSlot) {
    LumetraTest::TempWorkDir work;
    auto load = [&](const std::string& text) {
        LumetraTest::writeFile(work.file("config.txt"), text);
        return ConfigLoader(work.file("config.txt"));
    };
    EXPECT_EQ(load("").getChannels(), 20);
    EXPECT_EQ(load("CHANNELS=24\n").getChannels(), 20);
    ConfigLoader sixteen = load("CHANNELS=32\nDMX_START=1\nANZAHL=16\n");
    EXPECT_EQ(sixteen.getChannels(), 32);
    EXPECT_EQ(sixteen.getVormelNum(), 16);
    EXPECT_EQ(sixteen.getVormelDMXStart(), 1);
    ConfigLoader seventeen = load("CHANNELS=32\nDMX_START=1\nANZAHL=17\n");
    EXPECT_EQ(seventeen.getVormelNum(), 1);
    EXPECT_EQ(seventeen.getVormelDMXStart(), 100);
    EXPECT_EQ(load("CHANNELS=32\nDMX_START=481\n").getVormelDMXStart(), 481);
    EXPECT_EQ(load("CHANNELS=32\nDMX_START=482\n").getVormelDMXStart(), 100);
    // 25 canvases fit 20 channels each, not 32: switching afterwards falls back.
    EXPECT_EQ(load("DMX_START=1\nANZAHL=25\nCHANNELS=32\n").getVormelNum(), 1);
}

}  // namespace
}  // namespace Lumetra
