#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "artnet_receiver.h"

#include "log/log.h"

namespace Lumetra {

bool ArtnetReceiver::ledActive() const {
    return is_root && gpio_led >= 0;
}

// sysfs takes each value as one write. A file that cannot be opened (no GPIO support, no
// such pin) is skipped: the LED is optional and the receiver works the same without it.
void ArtnetReceiver::writeGpioFile(const std::string& name, const std::string& text) {
    int fd = open((gpio_root + "/" + name).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    ssize_t written = write(fd, text.data(), text.size());
    (void)written;  // a failed write leaves the LED as it was; nothing else depends on it
    close(fd);
}

// The GPIO character device where the kernel has one: the header's chip (or the one
// LUMETRA_GPIO_CHIP names, by path or label), line GPIO_LED. The sysfs files only where
// there is no character device (kernels before 4.8), or where LUMETRA_GPIO_ROOT names a
// tree of them. Says once on stderr when the LED cannot be driven; the show runs on.
bool ArtnetReceiver::chooseLedRoute() {
    const char* sysfs_root = std::getenv("LUMETRA_GPIO_ROOT");
    if (sysfs_root != nullptr && sysfs_root[0] != '\0') {
        led_sysfs = true;
        return true;
    }
    const std::vector<std::string> chips = GpioLine::chips("/dev");
    struct stat sysfs;
    if (chips.empty() && stat(gpio_root.c_str(), &sysfs) == 0) {
        led_sysfs = true;
        return true;
    }
    const char* wanted = std::getenv("LUMETRA_GPIO_CHIP");
    const std::string chip = GpioLine::headerChip(chips, wanted != nullptr ? wanted : "");
    std::string error;
    if (chips.empty()) {
        error = "no GPIO chip";
    } else if (chip.empty()) {
        error = wanted != nullptr && wanted[0] != '\0'
                    ? std::string("no GPIO chip ") + wanted
                    : "no GPIO chip carries the Raspberry Pi header (LUMETRA_GPIO_CHIP names one)";
    } else if (led_line.open(chip, gpio_led, &error)) {
        return true;
    }
    led_problem =
        "the status LED (GPIO_LED=" + std::to_string(gpio_led) + ") cannot be driven: " + error;
    logLine(LogLevel::Warning, "%s", led_problem.c_str());
    return false;
}

void ArtnetReceiver::initLED() {
    if (!ledActive() || !chooseLedRoute() || !led_sysfs) {
        return;
    }
    // An already exported pin makes the export write fail; direction and level still work.
    writeGpioFile("export", std::to_string(gpio_led));
    writeGpioFile("gpio" + std::to_string(gpio_led) + "/direction", "out");
}

void ArtnetReceiver::setLED(int value) {
    if (!ledActive()) {
        return;
    }
    led_blink = 0;
    if (!led_sysfs) {
        led_line.set(value);
        return;
    }
    writeGpioFile("gpio" + std::to_string(gpio_led) + "/value", std::to_string(value));
}

void ArtnetReceiver::quitLED() {
    if (!ledActive()) {
        return;
    }
    if (!led_sysfs) {
        led_line.close();
        return;
    }
    writeGpioFile("unexport", std::to_string(gpio_led));
}

}  // namespace Lumetra
