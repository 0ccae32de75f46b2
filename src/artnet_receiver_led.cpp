#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "artnet_receiver.h"

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

void ArtnetReceiver::initLED() {
    if (!ledActive()) {
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
    writeGpioFile("gpio" + std::to_string(gpio_led) + "/value", std::to_string(value));
    led_blink = 0;
}

void ArtnetReceiver::quitLED() {
    if (!ledActive()) {
        return;
    }
    writeGpioFile("unexport", std::to_string(gpio_led));
}

}  // namespace Lumetra
