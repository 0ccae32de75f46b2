#include "platform/videocore/command_reply.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char** environ;

namespace Lumetra {

namespace {

const int kReapPollMs = 5;

long long nowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int msLeft(long long deadline) {
    const long long left = deadline - nowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

// In a process group of its own, so that a kill reaches what the shell started too.
pid_t spawnShell(const std::string& command, int stdout_fd) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
        sigaddset(&defaults, signal_number);
    }
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char shell[] = "/bin/sh";
    char option[] = "-c";
    char* argv[] = {shell, option, const_cast<char*>(command.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, shell, &actions, &attributes, argv, environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// Reads up to the first newline, `size` - 1 characters, the end of output or the deadline.
// False when the deadline passed first.
bool readLine(int fd, long long deadline, char* reply, size_t size) {
    size_t used = 0;
    reply[0] = '\0';
    while (used + 1 < size) {
        struct pollfd ready = {fd, POLLIN, 0};
        const int waited = poll(&ready, 1, msLeft(deadline));
        if (waited < 0 && errno == EINTR) {
            continue;
        }
        if (waited <= 0) {
            return false;
        }
        const ssize_t got = read(fd, reply + used, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        used += 1;
        reply[used] = '\0';
        if (reply[used - 1] == '\n') {
            break;
        }
    }
    return true;
}

// Waits for the child until the deadline, then kills its group. True when it ended itself.
bool reap(pid_t pid, long long deadline) {
    for (;;) {
        const pid_t done = waitpid(pid, nullptr, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) {
            return true;  // ended (or reaped elsewhere)
        }
        if (msLeft(deadline) == 0) {
            break;
        }
        poll(nullptr, 0, kReapPollMs);
    }
    kill(-pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    return false;
}

}  // namespace

bool readCommandReply(const std::string& command, int timeout_ms, char* reply, size_t size,
                      bool* timed_out) {
    *timed_out = false;
    if (size == 0) {
        return false;
    }
    reply[0] = '\0';
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
        return false;
    }
    const long long deadline = nowMs() + timeout_ms;
    const pid_t pid = spawnShell(command, pipe_fds[1]);
    close(pipe_fds[1]);
    if (pid < 0) {
        close(pipe_fds[0]);
        return false;
    }
    const bool in_time = readLine(pipe_fds[0], deadline, reply, size);
    close(pipe_fds[0]);
    // Whatever the shell started may hold the pipe after the shell itself has ended.
    if (!in_time) {
        kill(-pid, SIGKILL);
    }
    const bool ended = reap(pid, in_time ? deadline : nowMs());
    *timed_out = !in_time || !ended;
    return !*timed_out;
}

}  // namespace Lumetra
