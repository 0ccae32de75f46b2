#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ShowProbe {

// CPU time (user and system, all threads) the process has used so far, in seconds.
double cpuSeconds(pid_t pid);
// Share of one core the process used over the next `seconds`.
double cpuShare(pid_t pid, double seconds);

// One canvas's 20 channels at address 1 of universe 0: slot 1's picture, white, opaque, a
// fifth of the screen wide, at the centre.
void showPictureOne();

// Asks the program (SIGUSR1) for a snapshot into `path` and returns the pixel at the centre
// of it as 0xRRGGBB, or -1 when none arrived within a few seconds.
long centrePixel(pid_t pid, const std::string& path);

// Waits up to `seconds` for the process to be gone.
bool waitGone(pid_t pid, double seconds);

// A fake sysfs GPIO directory for pin 17, as the status LED uses it.
struct FakeGpio {
    explicit FakeGpio(const std::string& dir);
    std::string value() const;
    std::string unexported() const;
    std::string root;
};

}  // namespace ShowProbe
