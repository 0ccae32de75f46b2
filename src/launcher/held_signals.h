/* The signals the show answers or ignores on purpose. The first stage holds them back
 * (blocked, so they stay pending) until the show's own dispositions are in place. C and
 * C++ both read this. */
#pragma once

#include <signal.h>

#define LUMETRA_HELD_SIGNALS                                                                \
    SIGINT, SIGTERM, SIGQUIT, SIGHUP, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGIO, \
        SIGPWR, SIGXFSZ, SIGTSTP
