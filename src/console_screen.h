#pragma once

#include <atomic>
#include <mutex>
#include <thread>

namespace Lumetra {

// The terminal console (ncurses) and the process-wide quit switch, set by the key `q` or
// by SIGINT/SIGTERM. In silent mode nothing is shown and no keys are read.
class ConsoleScreen {
  public:
    ConsoleScreen();
    explicit ConsoleScreen(bool silent);
    ~ConsoleScreen();

    ConsoleScreen(const ConsoleScreen&) = delete;
    ConsoleScreen& operator=(const ConsoleScreen&) = delete;

    static void signalReceiver(int signal);
    bool isQuit();
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
    static bool readKeys();

    static std::atomic<bool> quit;
    static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
    // ncurses is not thread-safe: the key thread's reads and the main thread's output take
    // turns. The key thread holds it only for a non-blocking read, so output never waits long.
    static std::mutex curses_lock;

    bool silent;
    std::thread key_listener_thread;
};

}  // namespace Lumetra
