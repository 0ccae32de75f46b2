#include "startup_guard.h"

#include <utility>

#include "fatal_exit.h"
#include "process_signals.h"

namespace Lumetra {

namespace {
// How often the guard looks at the quit flag (a signal handler cannot wake it).
const std::chrono::milliseconds kPollInterval(50);
}  // namespace

StartupGuard::StartupGuard(QuitQuery query, std::chrono::milliseconds g)
    : quit_requested(std::move(query)), grace(g), watcher(&StartupGuard::watch, this) {
    ProcessSignals::blockInThisThread(true);
    signals_blocked = true;
}

StartupGuard::~StartupGuard() {
    finish();
}

void StartupGuard::finish() {
    {
        std::lock_guard<std::mutex> guard(lock);
        finished = true;
    }
    finished_changed.notify_all();
    if (watcher.joinable()) {
        watcher.join();
    }
    if (signals_blocked) {
        ProcessSignals::blockInThisThread(false);
        signals_blocked = false;
    }
}

void StartupGuard::watch() {
    std::unique_lock<std::mutex> guard(lock);
    while (!finished_changed.wait_for(guard, kPollInterval, [this] { return finished; })) {
        if (quit_requested()) {
            if (!finished_changed.wait_for(guard, grace, [this] { return finished; })) {
                endProcess(0);  // asked to quit, and start-up is stuck where it cannot see it
            }
            return;
        }
    }
}

}  // namespace Lumetra
