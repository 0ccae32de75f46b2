#include "support/fixture_process.h"

#include <signal.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace LumetraTest {

double monotonicSeconds() {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

TerminalFixture::TerminalFixture(const std::string& work_dir, const std::string& args,
                                 const std::string& env, const std::string& launcher)
    : dir(work_dir) {
    // The server's socket lives in a directory of this fixture's own, removed with it:
    // tmux itself leaves its socket behind when the server ends.
    char templ[] = "/tmp/lumetra-tmux-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
        throw std::runtime_error("mkdtemp for the tmux socket failed");
    }
    socket_dir = templ;
    const std::string program = builtProgram("rpi_lumetra");
    // The inner shell records its pid and becomes the program; the outer one records the
    // exit status and keeps the pane open for inspection. A watcher in the pane ends
    // everything in it (the program too) and removes the socket once this test process is
    // gone, so a test that crashes or is killed leaves nothing running or behind. "\\$"
    // survives the shell that runs tmux itself.
    const std::string inner = "echo \\$\\$ > " + dir + "/.pid; exec " + launcher + " env " + env +
                              " " + program + " " + args;
    const std::string watcher = "(while kill -0 " + std::to_string(getpid()) +
                                " 2>/dev/null; do sleep 1; done; rm -rf " + socket_dir +
                                "; kill -KILL 0) &";
    const std::string outer = "cd " + dir + " && { " + watcher + " sh -c '" + inner +
                              "'; echo \\$? > " + dir + "/.status; wait; }";
    runCommand("rm -f " + dir + "/.pid " + dir + "/.status");
    tmux("new-session -d -x 100 -y 20 \"" + outer + "\"");
}

TerminalFixture::~TerminalFixture() {
    if (running()) {
        kill(pid(), SIGKILL);
    }
    tmux("kill-server");
    runCommand("rm -rf " + socket_dir);
}

std::string TerminalFixture::tmux(const std::string& args) {
    return commandOutput("tmux -S " + socket_dir + "/tmux " + args + " 2>/dev/null");
}

std::string TerminalFixture::screen(bool with_escapes) {
    return tmux(std::string("capture-pane -p") + (with_escapes ? " -e" : ""));
}

bool TerminalFixture::waitForText(const std::string& text, double seconds) {
    const double end = monotonicSeconds() + seconds;
    do {
        if (screen().find(text) != std::string::npos) {
            return true;
        }
        usleep(50000);
    } while (monotonicSeconds() < end);
    return false;
}

void TerminalFixture::sendKeys(const std::string& keys) {
    tmux("send-keys " + keys);
}

void TerminalFixture::pasteFile(const std::string& path) {
    tmux("load-buffer " + path);
    tmux("paste-buffer -d");
}

void TerminalFixture::closeTerminal() {
    tmux("kill-server");
}

std::string TerminalFixture::tmuxFormat(const std::string& format) {
    return tmux("display-message -p '" + format + "'");
}

pid_t TerminalFixture::pid() {
    for (int i = 0; i < 100; ++i) {
        std::string text = readFile(dir + "/.pid");
        if (!text.empty()) {
            return static_cast<pid_t>(std::stol(text));
        }
        usleep(20000);
    }
    return -1;
}

bool TerminalFixture::running() {
    pid_t p = pid();
    return p > 0 && readFile(dir + "/.status").empty() && kill(p, 0) == 0;
}

int TerminalFixture::waitForExit(double seconds) {
    const double end = monotonicSeconds() + seconds;
    do {
        std::string status = readFile(dir + "/.status");
        if (!status.empty()) {
            return std::stoi(status);
        }
        usleep(10000);
    } while (monotonicSeconds() < end);
    return -1;
}

}  // namespace LumetraTest
