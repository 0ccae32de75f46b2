/* rpi_lumetra as started by the user: a program that needs nothing but the C library, so
 * that it runs within a fraction of a millisecond of the exec. It blocks the signals a
 * script may send a fixture it has just started (SIGUSR1 for a snapshot, SIGTERM, ...)
 * and replaces itself with the show, keeping the process, its id and its command line.
 * The show loads over a hundred libraries before its main can install handlers; until
 * then the blocked signals wait, pending, instead of killing it. */
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "held_signals.h"

/* Beside this program in the build tree; where `make install` puts it otherwise. */
static const char kBuildTreeShow[] = "libexec/lumetra/rpi_lumetra";
static const char kInstalledShow[] = LUMETRA_SHOW_PATH;

static int showBesideMe(char* path, size_t size) {
    ssize_t n = readlink("/proc/self/exe", path, size - 1);
    if (n <= 0) {
        return 0;
    }
    path[n] = '\0';
    char* slash = strrchr(path, '/');
    if (slash == NULL || (size_t)(slash + 1 - path) + sizeof(kBuildTreeShow) > size) {
        return 0;
    }
    memcpy(slash + 1, kBuildTreeShow, sizeof(kBuildTreeShow));
    return access(path, X_OK) == 0;
}

int main(int argc, char** argv) {
    (void)argc;
    static const int held[] = {LUMETRA_HELD_SIGNALS};
    sigset_t set;
    sigemptyset(&set);
    for (size_t i = 0; i < sizeof(held) / sizeof(held[0]); ++i) {
        sigaddset(&set, held[i]);
    }
    sigprocmask(SIG_BLOCK, &set, NULL);

    char path[PATH_MAX];
    const char* show = showBesideMe(path, sizeof(path)) ? path : kInstalledShow;
    execv(show, argv);
    fprintf(stderr, "rpi_lumetra: cannot start %s: %s\n", show, strerror(errno));
    return 127;
}
