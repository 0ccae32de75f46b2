#pragma once

#include <string>
#include <vector>

namespace Lumetra {

// One output line of a GPIO chip, driven through the kernel's GPIO character device (the
// v2 uAPI of <linux/gpio.h>). Unlike the sysfs numbers, which since kernel 6.6 no longer
// start at 0 for the Raspberry Pi's header, a line is named by its chip and its offset
// there, and the header's BCM number is that offset.
class GpioLine {
  public:
    GpioLine() = default;
    ~GpioLine();
    GpioLine(const GpioLine&) = delete;
    GpioLine& operator=(const GpioLine&) = delete;

    // The GPIO chips under `dev_dir` ("/dev" normally), as paths.
    static std::vector<std::string> chips(const std::string& dev_dir);
    // The chip's label ("pinctrl-bcm2711", ...), or "" when it cannot be asked.
    static std::string label(const std::string& chip);
    // Of `chips`, the one that carries the Pi's header: named by `wanted` (a path or a
    // label) when that is not empty, else the one with a Pi header label. "" when none.
    static std::string headerChip(const std::vector<std::string>& chips, const std::string& wanted);

    // Claims line `offset` of `chip` as an output, dark. False with `error` set when the
    // kernel refuses.
    bool open(const std::string& chip, int offset, std::string* error);
    bool isOpen() const { return request_fd >= 0; }
    bool set(int value);
    // The line's level as the kernel reads it; -1 when it cannot.
    int get() const;
    // Releases the line.
    void close();

  private:
    int request_fd = -1;
};

}  // namespace Lumetra
