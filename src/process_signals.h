#pragma once

namespace Lumetra {

// How the process answers signals. A fixture must survive stray signals: those that ask it
// to end (SIGINT, SIGTERM, SIGQUIT) go to `quit`, which lets the main loop tear down
// cleanly (status LED off, pin released); SIGHUP means the terminal has gone, which is no
// reason to stop a show, and goes to `hang_up`; signals that mean nothing here (SIGPIPE,
// SIGUSR1 unless a snapshot handler is in place, SIGUSR2, SIGALRM, ...) are ignored.
class ProcessSignals {
  public:
    using Handler = void (*)(int);
    static void install(Handler quit, Handler hang_up);
    // On a crash (or a failed assertion) the terminal gets its modes back before the
    // process dies the way it would have; what the crash printed stays on the screen.
    static void restoreTerminalOnCrash();
    // Keeps the quit and hang-up signals away from the calling thread (or lets them in
    // again); threads it starts meanwhile inherit that. A thread stuck in a read never
    // answers them under some runtimes, so a thread that waits for them takes them.
    static void blockInThisThread(bool block);

  private:
    static void handle(int signal_number, Handler handler);
    static void ignoreIfDefault(int signal_number);
};

}  // namespace Lumetra
