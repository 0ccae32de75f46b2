// The status LED against a stand-in sysfs GPIO directory; inotify records which files the
// receiver writes, in order.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"
#include "gpio_line.h"

namespace Lumetra {
namespace {

using ArtnetTest::artDmx;
using ArtnetTest::readFile;

// A fake /sys/class/gpio with export, unexport and the pin's direction and value files.
class FakeGpio {
  public:
    explicit FakeGpio(int pin) : pin_dir("gpio" + std::to_string(pin)) {
        for (const std::string& name : {std::string("export"), std::string("unexport")}) {
            ArtnetTest::writeFile(dir.file(name), "");
        }
        std::string sub = dir.file(pin_dir);
        mkdir(sub.c_str(), 0755);
        ArtnetTest::writeFile(sub + "/direction", "in");
        ArtnetTest::writeFile(sub + "/value", "");
        setenv("LUMETRA_GPIO_ROOT", dir.path().c_str(), 1);
        watcher = inotify_init1(IN_NONBLOCK);
        inotify_add_watch(watcher, dir.path().c_str(), IN_OPEN | IN_CLOSE_WRITE);
        inotify_add_watch(watcher, sub.c_str(), IN_OPEN | IN_CLOSE_WRITE);
    }
    ~FakeGpio() {
        close(watcher);
        unsetenv("LUMETRA_GPIO_ROOT");
    }
    // Files written since the last call, as "export", "gpio17/value", ...
    std::vector<std::string> writes() { return events(IN_CLOSE_WRITE); }
    // Files opened in any way since the last call.
    std::vector<std::string> opens() { return events(IN_OPEN); }
    std::string read(const std::string& name) { return readFile(dir.file(name)); }
    std::string value() { return read(pin_dir + "/value"); }

  private:
    std::vector<std::string> events(uint32_t mask) {
        std::vector<std::string> names;
        alignas(inotify_event) char buf[8192];
        ssize_t n;
        while ((n = ::read(watcher, buf, sizeof(buf))) > 0) {
            for (char* p = buf; p < buf + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if ((event->mask & mask) && event->len > 0) {
                    bool in_pin_dir = event->wd != 1;
                    names.push_back((in_pin_dir ? pin_dir + "/" : "") + event->name);
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
        return names;
    }

    ArtnetTest::ScratchDir dir;
    std::string pin_dir;
    int watcher;
};

std::unique_ptr<ArtnetReceiver> receiverWithLed(int pin, bool is_root) {
    ArtnetReceiverProbe::Settings settings;
    settings.gpio_led = pin;
    settings.is_root = is_root;
    return std::unique_ptr<ArtnetReceiver>(ArtnetReceiverProbe::create(settings));
}

using Writes = std::vector<std::string>;

TEST(StatusLed, StartAndShutDownWriteThePinFilesInOrder) {
    FakeGpio gpio(17);
    auto receiver = receiverWithLed(17, true);
    EXPECT_EQ(gpio.writes(), (Writes{"export", "gpio17/direction", "gpio17/value"}));
    EXPECT_EQ(gpio.read("export"), "17");
    EXPECT_EQ(gpio.read("gpio17/direction"), "out");
    EXPECT_EQ(gpio.value(), "1");
    receiver.reset();
    EXPECT_EQ(gpio.writes(), (Writes{"gpio17/value", "unexport"}));
    EXPECT_EQ(gpio.value(), "0");
    EXPECT_EQ(gpio.read("unexport"), "17");
}

TEST(StatusLed, PinZeroIsARealPin) {
    FakeGpio gpio(0);
    auto receiver = receiverWithLed(0, true);
    EXPECT_EQ(gpio.writes(), (Writes{"export", "gpio0/direction", "gpio0/value"}));
    EXPECT_EQ(gpio.read("export"), "0");
}

TEST(StatusLed, NoPinOrNoRootTouchesNoFile) {
    {
        FakeGpio gpio(17);
        auto receiver = receiverWithLed(-1, true);
        ArtnetReceiverProbe(receiver.get()).receive();
        receiver.reset();
        EXPECT_TRUE(gpio.opens().empty());
    }
    {
        FakeGpio gpio(17);
        auto receiver = receiverWithLed(17, false);
        ArtnetReceiverProbe(receiver.get()).receive();
        receiver.reset();
        EXPECT_TRUE(gpio.opens().empty());
    }
}

TEST(StatusLed, MissingGpioFilesAreSkipped) {
    setenv("LUMETRA_GPIO_ROOT", "/nonexistent/gpio", 1);
    auto receiver = receiverWithLed(17, true);
    ArtnetTest::Sender().send(artDmx({1, 2}));
    EXPECT_TRUE(ArtnetReceiverProbe(receiver.get()).receive());
    receiver.reset();
    unsetenv("LUMETRA_GPIO_ROOT");
}

// Without any GPIO chip (this kind of machine has none) the LED is given up with one line
// saying why, and the receiver works the same.
TEST(StatusLed, NoGpioChipIsToldOnceAndTheShowRunsOn) {
    struct stat sysfs;
    if (!GpioLine::chips("/dev").empty() || stat("/sys/class/gpio", &sysfs) == 0) {
        GTEST_SKIP() << "this machine has GPIO";
    }
    testing::internal::CaptureStderr();
    auto receiver = receiverWithLed(17, true);
    ArtnetTest::Sender().send(artDmx({1, 2}));
    EXPECT_TRUE(ArtnetReceiverProbe(receiver.get()).receive());
    receiver.reset();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "lumetra: the status LED (GPIO_LED=17) cannot be driven: no GPIO chip\n");
}

// The LED level after each of a run of cycles.
std::string levelsOverCycles(FakeGpio& gpio, ArtnetReceiverProbe& probe, int packets_per_cycle,
                             int cycles) {
    ArtnetTest::Sender sender;
    std::string levels;
    for (int i = 0; i < cycles; ++i) {
        for (int p = 0; p < packets_per_cycle; ++p) {
            sender.send(artDmx({1, 2}));
        }
        probe.receive();
        levels += gpio.value();
    }
    return levels;
}

// The LED on GPIO 17 of a live receiver whose cycles the test runs.
class StatusLedCycles : public ::testing::Test {
  protected:
    FakeGpio gpio{17};
    std::unique_ptr<ArtnetReceiver> receiver = receiverWithLed(17, true);
    ArtnetReceiverProbe probe{receiver.get()};
};

TEST_F(StatusLedCycles, StaysLitWithoutDmxAndIsRewrittenEveryThirdCycle) {
    gpio.writes();
    EXPECT_EQ(levelsOverCycles(gpio, probe, 0, 9), "111111111");
    EXPECT_EQ(gpio.writes().size(), 3u);
}

TEST_F(StatusLedCycles, OnePacketPerCycleDarkensOneCycleInThree) {
    EXPECT_EQ(levelsOverCycles(gpio, probe, 1, 8), "10110110");
}

TEST_F(StatusLedCycles, TwoPacketsPerCycleNeverDarken) {
    gpio.writes();
    EXPECT_EQ(levelsOverCycles(gpio, probe, 2, 6), "111111");
    EXPECT_EQ(gpio.writes().size(), 6u);
}

TEST(StatusLed, ReadCountWithoutLedStopsShortOfOverflow) {
    auto receiver = receiverWithLed(-1, true);
    ArtnetReceiverProbe probe(receiver.get());
    probe.setLedBlink(INT_MAX - 1);
    for (int i = 0; i < 3; ++i) {
        probe.receive();
    }
    EXPECT_EQ(probe.ledBlink(), INT_MAX);
}

}  // namespace
}  // namespace Lumetra
