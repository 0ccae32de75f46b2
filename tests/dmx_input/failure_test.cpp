// Failures that end the process: each runs in a forked child whose standard output and
// error the test reads back byte for byte.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"

namespace Lumetra {
namespace {

struct ChildResult {
    int status = -1;
    std::string out;
    std::string err;
};

std::string drainPipe(int fd) {
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fd, buf, sizeof(buf))) > 0) {
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

ChildResult runInChild(const std::function<void()>& body) {
    int out[2];
    int err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        body();
        _exit(0);
    }
    close(out[1]);
    close(err[1]);
    ChildResult result;
    result.out = drainPipe(out[0]);
    result.err = drainPipe(err[0]);
    waitpid(pid, &result.status, 0);
    return result;
}

// Lets no further descriptor be opened in this process (the soft limit, so that it can be
// lifted again); returns the limit as it was.
rlimit allowNoMoreDescriptors() {
    rlimit before{};
    getrlimit(RLIMIT_NOFILE, &before);
    int lowest_free = dup(0);
    close(lowest_free);
    rlimit limit{static_cast<rlim_t>(lowest_free), before.rlim_max};
    setrlimit(RLIMIT_NOFILE, &limit);
    return before;
}

void expectExitOne(const ChildResult& result) {
    ASSERT_TRUE(WIFEXITED(result.status)) << "status " << result.status;
    EXPECT_EQ(WEXITSTATUS(result.status), 1);
}

TEST(ReceiverFailure, TakenPortPrintsTheBindMessageAndExitsWithOne) {
    int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(6454);
    ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ChildResult result = runInChild([] { ArtnetReceiver receiver(nullptr, 0, 0, 0, 1, 1, -1); });
    close(holder);
    expectExitOne(result);
    EXPECT_EQ(result.out, "ArtnetReceiver: bind(): Kann Portnummern 6454 nicht binden (" +
                              std::string(std::strerror(EADDRINUSE)) + ")\n");
}

TEST(ReceiverFailure, NoSocketPrintsTheLatinOneMessageAndExitsWithOne) {
    ChildResult result = runInChild([] {
        allowNoMoreDescriptors();
        ArtnetReceiver receiver(nullptr, 0, 0, 0, 1, 1, -1);
    });
    expectExitOne(result);
    // \xF6 is the single Latin-1 byte of the o-umlaut, not its UTF-8 form.
    EXPECT_EQ(result.out,
              "init_net: Kann Socket nicht \xF6"
              "ffnen ...(" +
                  std::string(std::strerror(EMFILE)) + ")\n");
}

// A poll answered while no descriptor is left costs nothing: the reply leaves through the
// listening socket, and the show goes on.
TEST(ReceiverFailure, PollAnsweredWithNoDescriptorLeftDoesNotEndTheShow) {
    ChildResult result = runInChild([] {
        ArtnetReceiverProbe::Settings settings;
        settings.start_listener = true;
        std::unique_ptr<ArtnetReceiver> receiver(ArtnetReceiverProbe::create(settings));
        const ArtnetReceiverProbe probe(receiver.get());
        const rlimit before = allowNoMoreDescriptors();
        // Standard input's descriptor is the one left for the poll's sender.
        ArtnetTest::Bytes poll = ArtnetTest::artPoll();
        close(STDIN_FILENO);
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(6454);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(fd, poll.data(), poll.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
        // The poll has been answered (or the old code has ended the process) once the
        // listener has taken it from the queue and gone on for a moment.
        for (int i = 0; i < 500 && probe.datagramQueued(); ++i) {
            usleep(10000);
        }
        usleep(100000);
        std::printf("still showing\n");
        std::fflush(stdout);
        // The sanitizers check the listener thread's end with a descriptor of their own.
        setrlimit(RLIMIT_NOFILE, &before);
    });
    ASSERT_TRUE(WIFEXITED(result.status)) << "status " << result.status;
    EXPECT_EQ(WEXITSTATUS(result.status), 0);
    EXPECT_EQ(result.out, "still showing\n");
    EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace Lumetra
