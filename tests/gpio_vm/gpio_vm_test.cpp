// The status LED's GPIO code on a real kernel GPIO chip: QEMU's arm64 `virt` machine has a
// PL061 controller, which Debian's arm64 kernel drives with a built-in driver. The guest's
// PID 1 (guest/gpio_guest.cpp, cross-built static) takes GPIO_LED from its config.txt,
// claims that line of the chip, drives it and reads it back through the kernel; the test
// judges what it printed on the console.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "support/test_support.h"

namespace {

using LumetraTest::commandOutput;
using LumetraTest::readFile;
using LumetraTest::runCommand;

class GpioVmTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        skip_reason = "the virtual machine checks run in the plain build only";
        return;
#endif
        const std::string guest = LUMETRA_BINARY_DIR "/tests/gpio_guest_arm64";
        if (access(guest.c_str(), X_OK) != 0) {
            skip_reason = "needs g++-aarch64-linux-gnu (scripts/install-deps test)";
            return;
        }
        if (runCommand("command -v qemu-system-aarch64 >/dev/null") != 0) {
            skip_reason = "needs qemu-system-aarch64 (scripts/install-deps test)";
            return;
        }
        std::string kernel =
            commandOutput(LUMETRA_SOURCE_DIR "/tests/gpio_vm/prepare-arm64-kernel 2>&1");
        kernel = kernel.substr(0, kernel.find_last_not_of('\n') + 1);
        if (kernel.empty() || kernel[0] != '/') {
            skip_reason = "no arm64 guest kernel: " + kernel;
            return;
        }
        char templ[] = "/tmp/lumetra-gpiovm-XXXXXX";
        const std::string dir = mkdtemp(templ);
        const std::string root = dir + "/root";
        runCommand("mkdir -p " + root + "/dev " + root + "/proc && cp " + guest + " " + root +
                   "/init && echo GPIO_LED=5 > " + root + "/config.txt && cd " + root +
                   " && find . | busybox cpio -o -H newc > " + dir + "/initrd 2>/dev/null");
        // About 6 s emulated; the time-out is for a loaded machine.
        runCommand(
            "timeout 300 qemu-system-aarch64 -M virt -cpu cortex-a53 -m 256 -smp 1 "
            "-nographic -no-reboot -kernel " +
            kernel + " -initrd " + dir + "/initrd -append 'console=ttyAMA0 panic=-1' > " + dir +
            "/console.txt 2>&1 < /dev/null");
        console = readFile(dir + "/console.txt");
        console.erase(std::remove(console.begin(), console.end(), '\r'), console.end());
        runCommand("rm -rf " + dir);
    }

    void SetUp() override {
        if (!skip_reason.empty()) {
            GTEST_SKIP() << skip_reason;
        }
    }

    static std::string skip_reason;
    static std::string console;
};

std::string GpioVmTest::skip_reason;
std::string GpioVmTest::console;

TEST_F(GpioVmTest, TheLedLineIsClaimedDrivenAndReadBackThroughTheKernel) {
    for (const char* line :
         {"gpio-vm: GPIO_LED=5\n", "gpio-vm: pi header chip: none\n",
          "gpio-vm: named chip: /dev/gpiochip0\n", "gpio-vm: open: ok\n",
          "gpio-vm: claimed: used output lumetra\n", "gpio-vm: set 1, read 1\n",
          "gpio-vm: set 0, read 0\n",
          "gpio-vm: second claim: /dev/gpiochip0 line 5: Device or resource busy\n",
          "gpio-vm: released: free\n", "gpio-vm: done\n"}) {
        EXPECT_NE(console.find(line), std::string::npos) << line << "\n" << console;
    }
}

}  // namespace
