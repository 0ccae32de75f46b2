#include "gpio_line.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Lumetra {

namespace {

// The chips whose lines are the 40-pin header, by BCM number: Pi 1 to 3 and Zero, Pi 4,
// Pi 5 (the header is on the RP1).
const char* const kHeaderLabels[] = {"pinctrl-bcm2835", "pinctrl-bcm2711", "pinctrl-rp1"};

}  // namespace

GpioLine::~GpioLine() {
    close();
}

std::vector<std::string> GpioLine::chips(const std::string& dev_dir) {
    std::vector<std::string> found;
    DIR* dir = opendir(dev_dir.c_str());
    if (dir == nullptr) {
        return found;
    }
    while (dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, "gpiochip", 8) == 0) {
            found.push_back(dev_dir + "/" + entry->d_name);
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

std::string GpioLine::label(const std::string& chip) {
    const int fd = ::open(chip.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return "";
    }
    gpiochip_info info{};
    const bool asked = ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) == 0;
    ::close(fd);
    return asked ? std::string(info.label, strnlen(info.label, sizeof(info.label))) : "";
}

std::string GpioLine::headerChip(const std::vector<std::string>& chips, const std::string& wanted) {
    for (const std::string& chip : chips) {
        const std::string name = label(chip);
        const bool header = wanted.empty()
                                ? std::find(std::begin(kHeaderLabels), std::end(kHeaderLabels),
                                            name) != std::end(kHeaderLabels)
                                : (chip == wanted || name == wanted);
        if (header) {
            return chip;
        }
    }
    return "";
}

bool GpioLine::open(const std::string& chip, int offset, std::string* error) {
    close();
    const int fd = ::open(chip.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = chip + ": " + std::strerror(errno);
        return false;
    }
    gpio_v2_line_request request{};
    request.offsets[0] = static_cast<__u32>(offset);
    request.num_lines = 1;
    std::strncpy(request.consumer, "lumetra", sizeof(request.consumer) - 1);
    request.config.flags = GPIO_V2_LINE_FLAG_OUTPUT;
    // Dark from the start: the first set() lights it.
    request.config.num_attrs = 1;
    request.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
    request.config.attrs[0].attr.values = 0;
    request.config.attrs[0].mask = 1;
    if (ioctl(fd, GPIO_V2_GET_LINE_IOCTL, &request) != 0) {
        *error = chip + " line " + std::to_string(offset) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    ::close(fd);
    request_fd = request.fd;
    return true;
}

bool GpioLine::set(int value) {
    if (request_fd < 0) {
        return false;
    }
    gpio_v2_line_values values{};
    values.bits = value != 0 ? 1 : 0;
    values.mask = 1;
    return ioctl(request_fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &values) == 0;
}

int GpioLine::get() const {
    if (request_fd < 0) {
        return -1;
    }
    gpio_v2_line_values values{};
    values.mask = 1;
    if (ioctl(request_fd, GPIO_V2_LINE_GET_VALUES_IOCTL, &values) != 0) {
        return -1;
    }
    return static_cast<int>(values.bits & 1);
}

void GpioLine::close() {
    if (request_fd >= 0) {
        ::close(request_fd);
        request_fd = -1;
    }
}

}  // namespace Lumetra
