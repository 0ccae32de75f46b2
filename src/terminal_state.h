#pragma once

#include <termios.h>

#include <atomic>
#include <cstddef>
#include <string>

namespace Lumetra {

// What the console changed on the terminal, kept so that it can be undone from anywhere: a
// fatal exit on another thread or a crash signal, where curses itself must not be called.
class TerminalState {
  public:
    // Remembers the modes of the terminal on `fd`; call before curses changes them.
    static void saveModes(int fd);
    // Remembers the bytes that undo what curses sent: `keep_screen` resets attributes,
    // cursor and keypad mode; `leave_screen` also leaves the alternate screen. Call once
    // curses is up.
    static void saveLeaveSequences(const std::string& leave_screen, const std::string& keep_screen);
    // The console has put the terminal back itself: nothing is left to undo.
    static void forget();

    // Puts the modes back and sends the leave sequence. Async-signal-safe; acts once.
    static void restore();
    // Puts the modes back and shows the cursor, but keeps the screen so that a crash
    // message written there stays readable. Async-signal-safe; acts once.
    static void restoreModesKeepingScreen();

  private:
    static int fd;
    static struct termios modes;
    static bool have_modes;
    struct Bytes {
        char text[256];
        size_t length;
        void set(const std::string& bytes);
    };
    static Bytes leave;
    static Bytes keep;

    static void restoreWith(const Bytes& bytes);
    static std::atomic<bool> pending;
};

}  // namespace Lumetra
