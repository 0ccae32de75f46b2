#include "console_screen.h"

#include <curses.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdarg>

namespace Lumetra {

namespace {
const char kTitle[] = "Raspberry Pi Lumetra | Version: 0.3.1\n";
// How long the key thread waits for input before it looks at the quit flag again.
const int kKeyPollMs = 50;
}  // namespace

std::atomic<bool> ConsoleScreen::quit{false};
std::mutex ConsoleScreen::curses_lock;

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

void ConsoleScreen::init(bool s) {
    quit.store(false);
    silent = s;
    signal(SIGINT, signalReceiver);
    signal(SIGTERM, signalReceiver);
    if (silent) {
        return;
    }
    initNCurses();
    key_listener_thread = std::thread(keyListener);
}

void ConsoleScreen::initNCurses() {
    initscr();
    curs_set(0);
    noecho();
    keypad(stdscr, TRUE);
    clear();
    // Reads never block: the key thread polls stdin itself so that it can see the quit flag.
    wtimeout(stdscr, 0);
}

void ConsoleScreen::endNCurses() {
    endwin();
}

void ConsoleScreen::signalReceiver(int) {
    quit.store(true);
}

bool ConsoleScreen::isQuit() {
    return quit.load();
}

// Ends when `q` arrives or when the quit flag is set elsewhere (a signal), so that the
// tear-down never waits for a further key press.
void ConsoleScreen::keyListener() {
    while (!quit.load()) {
        struct pollfd input = {STDIN_FILENO, POLLIN, 0};
        int ready = poll(&input, 1, kKeyPollMs);
        if (ready < 0) {
            continue;  // interrupted by a signal: look at the flag again
        }
        if (ready > 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 &&
            (input.revents & POLLIN) == 0) {
            usleep(kKeyPollMs * 1000);  // terminal gone: only a signal can end the program
            continue;
        }
        if (ready > 0 && readKeys()) {
            quit.store(true);
            return;
        }
    }
}

// Drains the keys that are ready; true when one of them was `q`.
bool ConsoleScreen::readKeys() {
    std::lock_guard<std::mutex> guard(curses_lock);
    int key;
    while ((key = wgetch(stdscr)) != ERR) {
        if (key == 'q') {
            return true;
        }
    }
    return false;
}

void ConsoleScreen::showTitle() {
    if (silent) {
        return;
    }
    std::lock_guard<std::mutex> guard(curses_lock);
    if (stdscr != nullptr) {
        wattrset(stdscr, A_BOLD);
    }
    printw("%s", kTitle);
    refresh();
    if (stdscr != nullptr) {
        wattrset(stdscr, A_NORMAL);
    }
}

void ConsoleScreen::print(const char* aFormat, ...) {
    if (silent) {
        return;
    }
    std::lock_guard<std::mutex> guard(curses_lock);
    va_list args;
    va_start(args, aFormat);
    vw_printw(stdscr, aFormat, args);
    va_end(args);
    refresh();
}

void ConsoleScreen::moveTo(int line, int column) {
    if (silent) {
        return;
    }
    std::lock_guard<std::mutex> guard(curses_lock);
    move(line, column);
}

void ConsoleScreen::clearRestOfLine() {
    if (silent) {
        return;
    }
    std::lock_guard<std::mutex> guard(curses_lock);
    clrtoeol();
    refresh();
}

void ConsoleScreen::showStatus(int line, const char* text) {
    if (silent) {
        return;
    }
    std::lock_guard<std::mutex> guard(curses_lock);
    int y, x;
    getyx(stdscr, y, x);
    mvprintw(line, 0, "%s", text);
    clrtoeol();
    move(y, x);
    refresh();
}

}  // namespace Lumetra
