#pragma once

#include <sys/types.h>

#include <string>

namespace LumetraTest {

// Runs the built rpi_lumetra in a real terminal (a private tmux server), offscreen, in a
// working directory of the test's choosing.
class TerminalFixture {
  public:
    // `args` are appended to the command line; `env` is a list of NAME=value words;
    // `launcher` comes before the program (e.g. "xvfb-run -a").
    TerminalFixture(const std::string& work_dir, const std::string& args,
                    const std::string& env = "", const std::string& launcher = "");
    ~TerminalFixture();
    TerminalFixture(const TerminalFixture&) = delete;
    TerminalFixture& operator=(const TerminalFixture&) = delete;

    std::string screen(bool with_escapes = false);
    // Waits up to `seconds` for `text` to appear on the screen.
    bool waitForText(const std::string& text, double seconds);
    void sendKeys(const std::string& keys);
    // Types the contents of `path` into the terminal as a paste.
    void pasteFile(const std::string& path);
    // Closes the terminal as a dropped connection would: the program gets SIGHUP and its
    // terminal is gone. Its exit status can no longer be seen.
    void closeTerminal();
    std::string tmuxFormat(const std::string& format);

    pid_t pid();
    // Waits up to `seconds` for the program to end; its exit status, or -1 on time-out.
    int waitForExit(double seconds);
    bool running();

  private:
    std::string tmux(const std::string& args);
    std::string dir;
    std::string socket_dir;
};

// Seconds since an arbitrary start, monotonic.
double monotonicSeconds();

}  // namespace LumetraTest
