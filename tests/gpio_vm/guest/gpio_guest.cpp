// PID 1 of the arm64 GPIO guest (QEMU's `virt` machine on Debian's arm64 kernel): the
// status LED's GPIO code drives a line of the machine's PL061 controller, a real kernel
// GPIO chip, and reads it back through the kernel. Prints one "gpio-vm: ..." line per
// finding on the console, then powers the machine off. The LED's line is GPIO_LED of
// /config.txt, read as the fixture reads it.
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/reboot.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "config_loader.h"
#include "gpio_line.h"

namespace {

// The PL061's label under Linux: its device's name.
const char kChip[] = "9030000.pl061";
// "used output lumetra" for a line this program drives; "free" for a free one.
std::string lineState(const std::string& chip, int line) {
    const int fd = open(chip.c_str(), O_RDONLY | O_CLOEXEC);
    gpio_v2_line_info info{};
    info.offset = static_cast<__u32>(line);
    const bool asked = fd >= 0 && ioctl(fd, GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0;
    if (fd >= 0) {
        close(fd);
    }
    if (!asked) {
        return "unknown";
    }
    if ((info.flags & GPIO_V2_LINE_FLAG_USED) == 0) {
        return "free";
    }
    return std::string("used ") +
           ((info.flags & GPIO_V2_LINE_FLAG_OUTPUT) != 0 ? "output " : "input ") + info.consumer;
}

void report(const char* format, const std::string& a, const std::string& b = "") {
    std::printf("gpio-vm: ");
    std::printf(format, a.c_str(), b.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

void checks(int led) {
    const auto chips = Lumetra::GpioLine::chips("/dev");
    std::string listed;
    for (const std::string& chip : chips) {
        listed += " " + chip + "=" + Lumetra::GpioLine::label(chip);
    }
    report("chips%s", listed);
    report("pi header chip: %s", Lumetra::GpioLine::headerChip(chips, "").empty() ? "none" : "?");
    const std::string chip = Lumetra::GpioLine::headerChip(chips, kChip);
    report("named chip: %s", chip.empty() ? "none" : chip);
    if (chip.empty()) {
        return;
    }
    Lumetra::GpioLine line;
    std::string error;
    report("open: %s", line.open(chip, led, &error) ? "ok" : error);
    report("claimed: %s", lineState(chip, led));
    for (int value : {1, 0, 1}) {
        line.set(value);
        report("set %s, read %s", std::to_string(value), std::to_string(line.get()));
    }
    Lumetra::GpioLine second;
    report("second claim: %s", second.open(chip, led, &error) ? "granted" : error);
    line.close();
    report("released: %s", lineState(chip, led));
}

}  // namespace

int main() {
    mount("devtmpfs", "/dev", "devtmpfs", 0, nullptr);
    mount("proc", "/proc", "proc", 0, nullptr);
    if (chdir("/") == 0) {
        const Lumetra::ConfigLoader config;
        report("GPIO_LED=%s", std::to_string(config.getGpioLed()));
        checks(config.getGpioLed());
    }
    report("done%s", "");
    sync();
    reboot(RB_POWER_OFF);
    return 0;
}
