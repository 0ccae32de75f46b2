#include "process_signals.h"

#include <pthread.h>
#include <signal.h>

#include <cstring>

#include "launcher/held_signals.h"
#include "terminal_state.h"

namespace Lumetra {

namespace {

const int kQuitSignals[] = {SIGINT, SIGTERM, SIGQUIT};
// SIGTSTP too: a stray Ctrl-Z must not freeze the show.
const int kMeaningless[] = {SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM,
                            SIGIO,   SIGPWR,  SIGXFSZ, SIGTSTP};
const int kCrashSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL};

struct sigaction previous_action[NSIG];

void crashed(int signal_number, siginfo_t* info, void*) {
    TerminalState::restoreModesKeepingScreen();
    sigaction(signal_number, &previous_action[signal_number], nullptr);
    if (info == nullptr || info->si_code <= 0) {
        // Sent (abort, kill): deliver it again, to the earlier action, once we return. A
        // fault happens again by itself when the instruction is retried.
        raise(signal_number);
    }
}

}  // namespace

void ProcessSignals::install(Handler quit, Handler hang_up) {
    for (int signal_number : kQuitSignals) {
        handle(signal_number, quit);
    }
    handle(SIGHUP, hang_up);
    for (int signal_number : kMeaningless) {
        ignoreIfDefault(signal_number);
    }
    // The first stage held these back while the libraries loaded: what came meanwhile is
    // taken now, by the dispositions above.
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : {LUMETRA_HELD_SIGNALS}) {
        sigaddset(&held, signal_number);
    }
    pthread_sigmask(SIG_UNBLOCK, &held, nullptr);
}

void ProcessSignals::handle(int signal_number, Handler handler) {
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal_number, &action, nullptr);
}

// A handler someone installed on purpose (the snapshot's SIGUSR1) stays.
void ProcessSignals::ignoreIfDefault(int signal_number) {
    struct sigaction current;
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL &&
        (current.sa_flags & SA_SIGINFO) == 0) {
        signal(signal_number, SIG_IGN);
    }
}

void ProcessSignals::blockInThisThread(bool block) {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : kQuitSignals) {
        sigaddset(&set, signal_number);
    }
    sigaddset(&set, SIGHUP);
    pthread_sigmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void ProcessSignals::restoreTerminalOnCrash() {
    for (int signal_number : kCrashSignals) {
        struct sigaction action;
        std::memset(&action, 0, sizeof(action));
        action.sa_sigaction = crashed;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;  // a stack overflow still gets here
        sigaction(signal_number, &action, &previous_action[signal_number]);
    }
}

}  // namespace Lumetra
