// The poll reply seen from the outside: the poller sits in one network namespace with its
// own UDP 6454, the node in another, joined by a veth pair.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "artnet/artnet_probe.h"
#include "artnet/artnet_test_support.h"
#include "artnet/netns_support.h"

namespace Lumetra {
namespace {

using ArtnetTest::Bytes;
using ArtnetTest::InNetns;
using ArtnetTest::NetnsPair;

struct Datagram {
    Bytes bytes;
    std::string from;
};

// A socket on the poller's UDP 6454, where replies arrive.
class Poller {
  public:
    Poller() : fd(socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(6454);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    }
    ~Poller() { close(fd); }
    // Waits up to `timeout_ms` for one datagram; empty bytes when none came.
    Datagram next(int timeout_ms) {
        Datagram d;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) != 1) {
            return d;
        }
        unsigned char buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof(from);
        ssize_t n = recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
        d.bytes.assign(buf, buf + (n > 0 ? n : 0));
        d.from = inet_ntoa(from.sin_addr);
        return d;
    }

  private:
    int fd;
};

class PollReply : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!NetnsPair::available()) {
            GTEST_SKIP() << NetnsPair::unavailableReason();
        }
    }
    // A live node in the node namespace; its listener thread starts in there too.
    void startNode(const std::string& node_iface) {
        pair = std::make_unique<NetnsPair>(node_iface);
        InNetns in_node(pair->node);
        ArtnetReceiverProbe::Settings settings;
        settings.start_listener = true;
        node.reset(ArtnetReceiverProbe::create(settings));
    }
    void TearDown() override {
        node.reset();
        pair.reset();
    }

    std::unique_ptr<NetnsPair> pair;
    std::unique_ptr<ArtnetReceiver> node;
};

void expectReplyFields(const Bytes& reply, const unsigned char ip[4]) {
    ASSERT_EQ(reply.size(), 386u);
    Bytes expected(386, 0);
    const char head[] = "Art-Net";
    std::copy(head, head + 8, expected.begin());  // with its zero byte
    expected[8] = 0x00;
    expected[9] = 0x21;
    std::copy(ip, ip + 4, expected.begin() + 10);
    expected[14] = 0x36;
    expected[15] = 0x19;
    const char name[] = "VORMEL";
    std::copy(name, name + 6, expected.begin() + 26);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(reply[i], expected[i]) << "byte " << i;
    }
}

TEST_F(PollReply, EachPollGetsExactlyOneReplyAtThePollersPort6454) {
    startNode("eth0");
    InNetns in_ctl(pair->ctl);
    Poller poller;
    ArtnetTest::Sender sender;  // an ephemeral source port: the reply still goes to 6454
    const unsigned char node_ip[4] = {10, 254, 55, 2};
    for (int size : {10, 14, 300}) {
        sender.send(ArtnetTest::artPoll(size), NetnsPair::NODE_IP);
        Datagram reply = poller.next(2000);
        EXPECT_EQ(reply.from, NetnsPair::NODE_IP) << "poll of " << size << " bytes";
        expectReplyFields(reply.bytes, node_ip);
        EXPECT_TRUE(poller.next(300).bytes.empty()) << "a second reply";
    }
}

TEST_F(PollReply, NodeWithoutEth0ReportsAddressZero) {
    startNode("lan0");
    InNetns in_ctl(pair->ctl);
    Poller poller;
    ArtnetTest::Sender sender;
    sender.send(ArtnetTest::artPoll(), NetnsPair::NODE_IP);
    const unsigned char zero[4] = {0, 0, 0, 0};
    expectReplyFields(poller.next(2000).bytes, zero);
}

TEST_F(PollReply, NonPollsGetNoReply) {
    startNode("eth0");
    InNetns in_ctl(pair->ctl);
    Poller poller;
    ArtnetTest::Sender sender;
    Bytes bad_id = ArtnetTest::artPoll();
    bad_id[7] = 'x';
    Bytes nine = ArtnetTest::artPoll(9);
    Bytes reply(386, 0);
    std::copy(bad_id.begin(), bad_id.begin() + 7, reply.begin());
    reply[9] = 0x21;
    for (const Bytes& datagram : {bad_id, nine, reply, ArtnetTest::artDmx(0x05, 2, {1, 2})}) {
        sender.send(datagram, NetnsPair::NODE_IP);
    }
    EXPECT_TRUE(poller.next(400).bytes.empty());
}

}  // namespace
}  // namespace Lumetra
