#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace Lumetra {

// The terminal console (ncurses) and the process-wide quit switch, set by the key `q` or
// by SIGINT/SIGTERM. In silent mode nothing is shown and no keys are read.
//
// The render loop must never wait for the keyboard, so keys are read from standard input
// by the key thread itself, without curses: curses is used for output only, from the main
// thread. When input ends (end of file, SIGHUP: the terminal has gone) the key thread stops
// reading and, after a hang-up, the console stops drawing; the show goes on until a signal
// ends it.
class ConsoleScreen {
  public:
    ConsoleScreen();
    explicit ConsoleScreen(bool silent);
    ~ConsoleScreen();

    ConsoleScreen(const ConsoleScreen&) = delete;
    ConsoleScreen& operator=(const ConsoleScreen&) = delete;

    static void signalReceiver(int signal);
    // Installs the console's signal handlers before there is a console: a signal in the
    // first milliseconds must neither kill the process nor be forgotten. The next console
    // keeps what arrived meanwhile.
    static void installSignalHandlers();
    bool isQuit();
    // The quit switch, before a console exists (a start-up step that waits).
    static bool quitRequested() { return quit.load(); }
    void showTitle();
    void print(const char* aFormat, ...) __attribute__((format(printf, 2, 3)));
    void moveTo(int line, int column);
    // Writes `text` over line `line` (rest of the line cleared) and puts the cursor back.
    void showStatus(int line, const char* text);
    // Clears from the cursor to the end of its line: a shorter frame rate must not leave
    // digits of a longer one behind.
    void clearRestOfLine();

  private:
    void init(bool s);
    void initNCurses();
    void endNCurses();
    static void keyListener();
    static void hangUpReceiver(int signal);
    // Registered for fatal exits on any thread.
    static void restoreTerminalForExit();
    // True (with the output lock taken) when output is to be drawn.
    bool beginOutput(std::unique_lock<std::timed_mutex>& guard);

    static std::atomic<bool> quit;
    static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
    static std::atomic<bool> terminal_gone;
    // Set by installSignalHandlers(), taken by the next console.
    static bool handlers_installed_early;
    // Output comes from the main thread only; a fatal exit on another thread takes this
    // (waiting a bounded time) so that it does not write into the middle of an update.
    static std::timed_mutex output_lock;

    bool silent;
    bool has_screen = false;
    std::thread key_listener_thread;
};

}  // namespace Lumetra
