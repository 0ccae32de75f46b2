#include "config_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "config_loader.h"
#include "support/test_support.h"

namespace {

using Lumetra::updatedConfigText;

TEST(ConfigWriterTest, ChangesTheKeysLinesKeepsEverythingElseAndAppendsNewKeys) {
    const std::string before =
        "# stage left unit\n"
        "UNIVERSE=3   # desk patch\n"
        "FOO=bar\n"
        "\n"
        " SUBNET = 1\n";
    EXPECT_EQ(updatedConfigText(before, {{"SUBNET", "2"}, {"UNIVERSE", "7"}, {"NET", "1"}}),
              "# stage left unit\n"
              "UNIVERSE=7 # desk patch\n"
              "FOO=bar\n"
              "\n"
              "SUBNET=2\n"
              "NET=1\n");
}

TEST(ConfigWriterTest, WrittenFileIsReadBackByTheLoaderAndNoTemporaryStays) {
    LumetraTest::TempWorkDir work;
    LumetraTest::writeFile(work.file("config.txt"), "ANZAHL=4\n# keep me\n");
    std::string error;
    ASSERT_TRUE(Lumetra::writeConfigValues("config.txt", {{"UNIVERSE", "9"}}, &error)) << error;
    Lumetra::ConfigLoader config;
    EXPECT_EQ(config.getArtnetUniverse(), 9);
    EXPECT_EQ(config.getVormelNum(), 4);
    EXPECT_EQ(LumetraTest::readFile("config.txt"), "ANZAHL=4\n# keep me\nUNIVERSE=9\n");
    EXPECT_EQ(LumetraTest::commandOutput("ls"), "config.txt\ntextures\n");  // no temporary left
}

TEST(ConfigWriterTest, RefusesValuesThatWouldBreakTheFileAndLeavesItAlone) {
    LumetraTest::TempWorkDir work;
    LumetraTest::writeFile(work.file("config.txt"), "UNIVERSE=1\n");
    std::string error;
    EXPECT_FALSE(Lumetra::writeConfigValues("config.txt", {{"UNIVERSE", "2\nSUBNET=3"}}, &error));
    EXPECT_FALSE(Lumetra::writeConfigValues("config.txt", {{"UNI=VERSE", "2"}}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(LumetraTest::readFile("config.txt"), "UNIVERSE=1\n");
}

}  // namespace
