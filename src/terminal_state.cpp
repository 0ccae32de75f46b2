#include "terminal_state.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>

namespace Lumetra {

namespace {
const int kWriteWaitMs = 100;
}  // namespace

int TerminalState::fd = -1;
struct termios TerminalState::modes;
bool TerminalState::have_modes = false;
TerminalState::Bytes TerminalState::leave = {{0}, 0};
TerminalState::Bytes TerminalState::keep = {{0}, 0};
std::atomic<bool> TerminalState::pending{false};

void TerminalState::Bytes::set(const std::string& bytes) {
    // Too long means a strange terminal description: better send nothing than half.
    length = bytes.size() < sizeof(text) ? bytes.size() : 0;
    std::memcpy(text, bytes.data(), length);
}

void TerminalState::saveModes(int terminal_fd) {
    fd = terminal_fd;
    have_modes = tcgetattr(fd, &modes) == 0;
    leave.length = 0;
    keep.length = 0;
    pending.store(true);
}

void TerminalState::saveLeaveSequences(const std::string& leave_screen,
                                       const std::string& keep_screen) {
    leave.set(leave_screen);
    keep.set(keep_screen);
}

void TerminalState::forget() {
    pending.store(false);
}

void TerminalState::restore() {
    restoreWith(leave);
}

void TerminalState::restoreModesKeepingScreen() {
    restoreWith(keep);
}

void TerminalState::restoreWith(const Bytes& bytes) {
    if (!pending.exchange(false)) {
        return;
    }
    if (have_modes) {
        tcsetattr(fd, TCSANOW, &modes);
    }
    // A terminal that takes nothing (a stalled connection) must not keep the process alive.
    struct pollfd out = {fd, POLLOUT, 0};
    if (poll(&out, 1, kWriteWaitMs) != 1 || (out.revents & POLLOUT) == 0) {
        return;
    }
    size_t done = 0;
    while (done < bytes.length) {
        ssize_t n = write(fd, bytes.text + done, bytes.length - done);
        if (n <= 0) {
            break;  // terminal gone: nothing more to put right
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace Lumetra
