#include "console_screen.h"

#include <curses.h>
#include <poll.h>
#include <term.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <string>

#include "fatal_exit.h"
#include "key_decoder.h"
#include "process_signals.h"
#include "terminal_state.h"

namespace Lumetra {

namespace {

const char kTitle[] = "Raspberry Pi Lumetra | Version: 0.3.1\n";
// How long the key thread waits for input before it looks at the quit flag again; also how
// long an escape waits for the rest of its sequence.
const int kKeyPollMs = 50;
// A fatal exit waits this long at most for output in progress on the main thread.
const std::chrono::milliseconds kExitOutputWait(200);
// The tear-down waits this long at most for a terminal that takes no output.
const int kEndOutputWaitMs = 200;

std::string capability(const char* name) {
    const char* text = tigetstr(const_cast<char*>(name));
    if (text == nullptr || text == reinterpret_cast<const char*>(-1)) {
        return "";
    }
    return text;
}

// What endwin would send, for exits that cannot call it: attributes off, cursor to the
// last line, cursor shown, keypad mode off, alternate screen left.
void saveLeaveSequences() {
    const std::string reset = capability("sgr0") + capability("cnorm") + capability("rmkx");
    std::string bottom;
    const std::string cup = capability("cup");
    if (!cup.empty()) {
        const char* moved = tiparm(cup.c_str(), LINES - 1, 0);
        bottom = moved != nullptr ? moved : "";
    }
    TerminalState::saveLeaveSequences(bottom + reset + capability("rmcup"), reset);
}

// Ctrl-S would stop the terminal's output, and with it the render loop as soon as a write
// blocks: flow control keys are plain keys here.
void disableFlowControl() {
    struct termios modes;
    if (tcgetattr(STDOUT_FILENO, &modes) == 0) {
        modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
        tcsetattr(STDOUT_FILENO, TCSANOW, &modes);
        def_prog_mode();
    }
}

// Writes to the terminal only when it can take them at once: a stalled terminal (a frozen
// connection) must not hold up the render loop. What is not written now goes out with the
// next refresh that can.
void refreshIfWritable() {
    struct pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    if (poll(&out, 1, 0) == 1 && (out.revents & POLLOUT) != 0) {
        refresh();
    }
}

}  // namespace

std::atomic<bool> ConsoleScreen::quit{false};
std::atomic<bool> ConsoleScreen::terminal_gone{false};
std::timed_mutex ConsoleScreen::output_lock;
bool ConsoleScreen::handlers_installed_early = false;

ConsoleScreen::ConsoleScreen() : ConsoleScreen(false) {}

ConsoleScreen::ConsoleScreen(bool s) {
    init(s);
}

ConsoleScreen::~ConsoleScreen() {
    if (silent) {
        return;
    }
    if (key_listener_thread.joinable()) {
        key_listener_thread.join();
    }
    endNCurses();
}

void ConsoleScreen::installSignalHandlers() {
    if (!handlers_installed_early) {
        quit.store(false);
        terminal_gone.store(false);
        handlers_installed_early = true;
    }
    ProcessSignals::install(signalReceiver, hangUpReceiver);
}

void ConsoleScreen::init(bool s) {
    if (!handlers_installed_early) {
        quit.store(false);
        terminal_gone.store(false);
    }
    handlers_installed_early = false;
    silent = s;
    ProcessSignals::install(signalReceiver, hangUpReceiver);
    if (silent) {
        return;
    }
    initNCurses();
    key_listener_thread = std::thread(keyListener);
}

void ConsoleScreen::initNCurses() {
    TerminalState::saveModes(STDOUT_FILENO);
    // Unlike initscr, newterm does not end the process when the terminal is unknown (a
    // service without TERM): the console then shows nothing and the show runs anyway.
    if (newterm(nullptr, stdout, stdin) == nullptr) {
        TerminalState::forget();
        return;
    }
    has_screen = true;
    curs_set(0);
    noecho();
    cbreak();  // keys arrive one by one, not after Enter
    keypad(stdscr, TRUE);
    clear();
    wtimeout(stdscr, -1);
    typeahead(-1);  // curses reads no keys, so pending input must not hold back output
    disableFlowControl();
    saveLeaveSequences();
    setTerminalRestorer(restoreTerminalForExit);
    ProcessSignals::restoreTerminalOnCrash();
}

void ConsoleScreen::endNCurses() {
    if (!has_screen) {
        return;
    }
    std::lock_guard<std::timed_mutex> guard(output_lock);
    setTerminalRestorer(nullptr);
    struct pollfd out = {STDOUT_FILENO, POLLOUT, 0};
    if (poll(&out, 1, kEndOutputWaitMs) == 1 && (out.revents & POLLOUT) != 0) {
        endwin();
        TerminalState::forget();
    } else {
        TerminalState::restore();  // a stalled terminal: modes back without waiting on it
    }
}

void ConsoleScreen::restoreTerminalForExit() {
    // Never given back: nothing may be drawn over the terminal once it is restored. When the
    // lock is not had in time, a stuck drawer must not keep the terminal in curses mode.
    const bool locked = output_lock.try_lock_for(kExitOutputWait);
    (void)locked;
    TerminalState::restore();
}

void ConsoleScreen::signalReceiver(int) {
    quit.store(true);
}

void ConsoleScreen::hangUpReceiver(int) {
    terminal_gone.store(true);
}

bool ConsoleScreen::isQuit() {
    return quit.load();
}

// Ends when `q` arrives, when the quit flag is set elsewhere (a signal), so that the
// tear-down never waits for a further key press, and when there is nothing more to read.
void ConsoleScreen::keyListener() {
    KeyDecoder keys;
    char buffer[4096];
    while (!quit.load() && !terminal_gone.load()) {
        struct pollfd input = {STDIN_FILENO, POLLIN, 0};
        int ready = poll(&input, 1, kKeyPollMs);
        if (ready == 0) {
            keys.idle();
            continue;
        }
        if (ready < 0) {
            if (errno == EINTR) {
                continue;  // a signal: look at the flags again
            }
            return;
        }
        ssize_t count = read(STDIN_FILENO, buffer, sizeof(buffer));
        if (count > 0) {
            if (keys.feed(buffer, static_cast<size_t>(count))) {
                quit.store(true);
                return;
            }
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && errno == EAGAIN) {
            usleep(kKeyPollMs * 1000);  // input set non-blocking by someone else: no spinning
            continue;
        }
        return;  // end of input, or the terminal has gone: only a signal can end the show
    }
}

bool ConsoleScreen::beginOutput(std::unique_lock<std::timed_mutex>& guard) {
    if (silent || !has_screen || terminal_gone.load()) {
        return false;
    }
    guard = std::unique_lock<std::timed_mutex>(output_lock);
    return true;
}

void ConsoleScreen::showTitle() {
    std::unique_lock<std::timed_mutex> guard;
    if (!beginOutput(guard)) {
        return;
    }
    wattrset(stdscr, A_BOLD);
    printw("%s", kTitle);
    refreshIfWritable();
    wattrset(stdscr, A_NORMAL);
}

void ConsoleScreen::print(const char* aFormat, ...) {
    std::unique_lock<std::timed_mutex> guard;
    if (!beginOutput(guard)) {
        return;
    }
    va_list args;
    va_start(args, aFormat);
    vw_printw(stdscr, aFormat, args);
    va_end(args);
    refreshIfWritable();
}

void ConsoleScreen::moveTo(int line, int column) {
    std::unique_lock<std::timed_mutex> guard;
    if (!beginOutput(guard)) {
        return;
    }
    move(line, column);
}

void ConsoleScreen::clearRestOfLine() {
    std::unique_lock<std::timed_mutex> guard;
    if (!beginOutput(guard)) {
        return;
    }
    clrtoeol();
    refreshIfWritable();
}

void ConsoleScreen::showStatus(int line, const char* text) {
    std::unique_lock<std::timed_mutex> guard;
    if (!beginOutput(guard)) {
        return;
    }
    int y, x;
    getyx(stdscr, y, x);
    mvprintw(line, 0, "%s", text);
    clrtoeol();
    move(y, x);
    refreshIfWritable();
}

}  // namespace Lumetra
