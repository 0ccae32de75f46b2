#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace Lumetra {

// Start-up can block where no flag is looked at: a worker thread reading a file that never
// ends, an outside command that never answers. The main thread asks the loaders to stop
// when the quit flag is set and tears down; if the process has not ended `grace` after the
// request, this guard ends it (terminal restored, status 0). Nothing of the show is lit
// yet at that point: the receiver, and with it the status LED, comes last.
//
// While it guards, the quit and hang-up signals go to the guard's thread, which is always
// waiting, not to the thread that creates it (nor to the threads that one starts).
class StartupGuard {
  public:
    using QuitQuery = std::function<bool()>;
    StartupGuard(QuitQuery quit_requested, std::chrono::milliseconds grace);
    ~StartupGuard();

    StartupGuard(const StartupGuard&) = delete;
    StartupGuard& operator=(const StartupGuard&) = delete;

    // The show runs, or the tear-down has ended: nothing to guard any more.
    void finish();

  private:
    void watch();

    const QuitQuery quit_requested;
    const std::chrono::milliseconds grace;
    std::mutex lock;
    std::condition_variable finished_changed;
    bool finished = false;
    bool signals_blocked = false;
    std::thread watcher;
};

}  // namespace Lumetra
