// The poll reply seen from the outside: the poller sits in one network namespace with its
// own UDP 6454, the node in another, joined by a veth pair.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"
#include "dmx_input/netns_support.h"
#include "config_loader.h"

namespace Lumetra {
namespace {

using ArtnetTest::Bytes;
using ArtnetTest::InNetns;
using ArtnetTest::NetnsPair;

struct Datagram {
    Bytes bytes;
    std::string from;
    int from_port = 0;
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
        d.from_port = ntohs(from.sin_port);
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

// The node interface's MAC, as `ip` reports it in the node's namespace.
std::vector<unsigned char> macOf(const std::string& ns, const std::string& iface) {
    std::string text = ArtnetTest::shellOutput("ip -n " + ns + " -o link show " + iface);
    size_t at = text.find("link/ether ");
    std::vector<unsigned char> mac(6, 0);
    if (at != std::string::npos) {
        unsigned int b[6];
        std::sscanf(text.c_str() + at + 11, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4],
                    &b[5]);
        std::copy(b, b + 6, mac.begin());
    }
    return mac;
}

std::string hostName() {
    char name[256] = {};
    gethostname(name, sizeof(name) - 1);
    return name;
}

void put(Bytes& bytes, size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<long>(at));
}

struct Expected {
    unsigned char ip[4];
    std::vector<unsigned char> mac;
    int sub_uni = 0;
    bool dmx = false;
    int count = 0;
    int net = 0;
    std::string short_name{};
    std::string long_name{};
    bool locating = false;
};

// The whole 386-byte reply of a node with one DMX512 output port, field by field.
Bytes expectedReply(const Expected& e) {
    Bytes r(386, 0);
    put(r, 0, std::string("Art-Net", 8));  // ID, with its zero byte
    r[8] = 0x00;                           // OpCode 0x2100 OpPollReply, low byte first
    r[9] = 0x21;
    std::copy(e.ip, e.ip + 4, r.begin() + 10);  // IP Address
    r[14] = 0x36;                               // Port 0x1936, low byte first
    r[15] = 0x19;
    // 16-17 VersInfo 0
    r[18] = static_cast<unsigned char>(e.net);           // NetSwitch
    r[19] = static_cast<unsigned char>(e.sub_uni >> 4);  // SubSwitch
    // 20-21 Oem 0, 22 UbeaVersion 0
    r[23] = e.locating ? 0x50 : 0x10;  // Status1: Port-Address set locally, locate indicator
    // 24-25 EstaMan 0
    put(r, 26, e.short_name.empty() ? "VORMEL" : e.short_name);  // ShortName, 18 bytes
    put(r, 44, e.long_name.empty() ? ("Lumetra " + hostName()).substr(0, 63) : e.long_name);
    char report[64];
    std::snprintf(report, sizeof(report), "#0001 [%04d] %s", e.count,
                  e.dmx ? "DMX arriving" : "No DMX");
    put(r, 108, report);  // NodeReport, 64 bytes
    r[172] = 0;           // NumPorts 1, high byte first
    r[173] = 1;
    r[174] = 0x80;  // PortTypes[0]: output, DMX512
    // 175-177 PortTypes[1..3] 0; 178-181 GoodInput 0
    r[182] = e.dmx ? 0x80 : 0x00;  // GoodOutput[0]: data being output
    // 183-185 GoodOutput[1..3] 0; 186-189 SwIn 0
    r[190] = static_cast<unsigned char>(e.sub_uni);  // SwOut[0]: SubUni as a whole byte
    // 191-193 SwOut[1..3] 0; 194 AcnPriority, 195 SwMacro, 196 SwRemote, 197-199 spare: 0
    r[200] = 0x00;                                           // Style: StNode
    std::copy(e.mac.begin(), e.mac.end(), r.begin() + 201);  // MAC, high byte first
    std::copy(e.ip, e.ip + 4, r.begin() + 207);              // BindIp
    r[211] = 1;                                              // BindIndex
    r[212] = 0x08;  // Status2: 15-bit Port-Addresses understood
    r[213] = 0x80;  // GoodOutputB[0]: RDM disabled
    // 214-216 GoodOutputB[1..3], 217 Status3 (hold last look on data loss), the rest: 0
    return r;
}

void expectReply(const Bytes& reply, const Expected& e) {
    ASSERT_EQ(reply.size(), 386u);
    Bytes expected = expectedReply(e);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(reply[i], expected[i]) << "byte " << i;
    }
}

TEST_F(PollReply, EachPollGetsExactlyOneReplyAtThePollersPort6454) {
    startNode("eth0");
    InNetns in_ctl(pair->ctl);
    Poller poller;
    ArtnetTest::Sender sender;  // an ephemeral source port: the reply still goes to 6454
    Expected e{{10, 254, 55, 2}, macOf(pair->node, "eth0")};
    for (int size : {10, 14, 300}) {
        sender.send(ArtnetTest::artPoll(size), NetnsPair::NODE_IP);
        Datagram reply = poller.next(2000);
        EXPECT_EQ(reply.from, NetnsPair::NODE_IP) << "poll of " << size << " bytes";
        EXPECT_EQ(reply.from_port, 6454) << "the reply leaves from the Art-Net port";
        expectReply(reply.bytes, e);
        EXPECT_TRUE(poller.next(300).bytes.empty()) << "a second reply";
        ++e.count;
    }
}

// Wi-Fi or a PC's enp3s0: the address the poller can reach us at, never 0.0.0.0.
TEST_F(PollReply, NodeWithoutEth0ReportsTheAddressOfTheInterfaceThePollCameIn) {
    startNode("wlan0");
    InNetns in_ctl(pair->ctl);
    Poller poller;
    ArtnetTest::Sender sender;
    sender.send(ArtnetTest::artPoll(), NetnsPair::NODE_IP);
    expectReply(poller.next(2000).bytes, {{10, 254, 55, 2}, macOf(pair->node, "wlan0")});
    // A broadcast poll too: the reply names our address on the poller's network.
    int on = 1;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof(on));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6454);
    inet_pton(AF_INET, "10.254.55.255", &to.sin_addr);
    Bytes poll = ArtnetTest::artPoll();
    sendto(fd, poll.data(), poll.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    close(fd);
    Datagram reply = poller.next(2000);
    if (reply.bytes == poll) {
        reply = poller.next(2000);  // the poller hears its own broadcast first
    }
    ASSERT_EQ(reply.bytes.size(), 386u);
    EXPECT_EQ(std::vector<int>(reply.bytes.begin() + 10, reply.bytes.begin() + 14),
              (std::vector<int>{10, 254, 55, 2}));
}

// A controller lists the node on its universe and sees whether DMX is arriving.
TEST_F(PollReply, ReplyNamesTheUniverseAndWhetherDmxArrives) {
    ArtnetTest::HeadlessScreen screen(1);
    pair = std::make_unique<NetnsPair>("eth0");
    {
        InNetns in_node(pair->node);
        ArtnetReceiverProbe::Settings settings;
        settings.screen = screen.manager();
        settings.canvases_id = screen.groupId();
        settings.subnet = 2;
        settings.universe = 7;
        settings.start_listener = true;
        node.reset(ArtnetReceiverProbe::create(settings));
    }
    InNetns in_ctl(pair->ctl);
    Poller poller;
    ArtnetTest::Sender sender;
    Expected e{{10, 254, 55, 2}, macOf(pair->node, "eth0"), 0x27};
    sender.send(ArtnetTest::artPoll(), NetnsPair::NODE_IP);
    expectReply(poller.next(2000).bytes, e);
    sender.send(ArtnetTest::artDmx(0x27, 2, {1, 2}), NetnsPair::NODE_IP);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // mapped by then, or later
    e.dmx = true;
    e.count = 1;
    for (int i = 0; i < 20; ++i) {  // a loaded machine may map it later: poll again
        sender.send(ArtnetTest::artPoll(), NetnsPair::NODE_IP);
        Datagram reply = poller.next(2000);
        ASSERT_EQ(reply.bytes.size(), 386u);
        if (reply.bytes[182] == 0x80 || i == 19) {
            e.count = 1 + i;
            expectReply(reply.bytes, e);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(600));  // within the budget
    }
    node.reset();  // before the screen it drives
}

// Polls cannot turn the node into an amplifier: a few replies a second per controller and
// in all, however many polls come and from however many addresses.
TEST_F(PollReply, RepliesStayWithinTheirBudgetHoweverManyPollsCome) {
    startNode("eth0");
    for (int i = 0; i < 20; ++i) {
        ArtnetTest::shell("ip -n " + pair->ctl + " addr add 10.254.55." + std::to_string(100 + i) +
                          "/24 dev eth0");
    }
    InNetns in_ctl(pair->ctl);
    Poller poller;
    auto count = [&](int quiet_ms) {
        int replies = 0;
        while (!poller.next(quiet_ms).bytes.empty()) {
            ++replies;
        }
        return replies;
    };
    const auto start = std::chrono::steady_clock::now();
    auto elapsed = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    ArtnetTest::Sender one;
    for (int i = 0; i < 200; ++i) {
        one.send(ArtnetTest::artPoll(), NetnsPair::NODE_IP);
    }
    const int from_one = count(1000);
    EXPECT_GE(from_one, 1);
    EXPECT_LE(from_one, 4 + 2 * elapsed() + 1) << "one controller";
    int from_many = 0;
    for (int i = 0; i < 20; ++i) {
        ArtnetTest::Sender sender("10.254.55." + std::to_string(100 + i));
        for (int p = 0; p < 10; ++p) {
            sender.send(ArtnetTest::artPoll(), NetnsPair::NODE_IP);
        }
    }
    from_many = count(1000);
    EXPECT_GE(from_many, 1);
    EXPECT_LE(from_one + from_many, 10 + 5 * elapsed() + 1) << "all controllers";
    std::printf("replies: %d to 200 polls from one, %d to 200 from twenty, in %.2f s\n", from_one,
                from_many, elapsed());
}

// A desk renames, re-patches and locates the node: its answer and every later reply show
// the change, and config.txt keeps it (comments too) for the next start.
TEST_F(PollReply, ArtAddressChangesWhatRepliesShowAndConfigKeepsIt) {
    ArtnetTest::ScratchDir dir;
    const std::string config = dir.file("config.txt");
    ArtnetTest::writeFile(config, "# rig left\nUNIVERSE=5 # patched by hand\nDMX_START=1\n");
    pair = std::make_unique<NetnsPair>("eth0");
    {
        InNetns in_node(pair->node);
        ArtnetReceiverProbe::Settings settings;
        settings.universe = 5;
        settings.start_listener = true;
        settings.identity.config_path = config;
        node.reset(ArtnetReceiverProbe::create(settings));
    }
    InNetns in_ctl(pair->ctl);
    Poller poller;
    ArtnetTest::Sender sender;
    Bytes address = ArtnetTest::artAddress();
    address[12] = 0x80 | 1;  // Net 1
    put(address, 14, "Left");
    put(address, 32, "Stage left projector");
    address[100] = 0x80 | 3;  // universe 3
    address[104] = 0x80 | 2;  // subnet 2
    address[106] = 0x04;      // AcLedLocate
    sender.send(address, NetnsPair::NODE_IP);
    Expected e{{10, 254, 55, 2}, macOf(pair->node, "eth0"), 0x23};
    e.net = 1;
    e.short_name = "Left";
    e.long_name = "Stage left projector";
    e.locating = true;
    expectReply(poller.next(2000).bytes, e);
    while (!poller.next(300).bytes.empty()) {  // the same news, broadcast to everyone
    }
    Bytes rename = ArtnetTest::artAddress();  // only the short name; the rest stays
    put(rename, 14, "L1 # back");
    rename[106] = 0x02;  // AcLedNormal
    sender.send(rename, NetnsPair::NODE_IP);
    ASSERT_FALSE(poller.next(2000).bytes.empty());
    while (!poller.next(300).bytes.empty()) {
    }
    sender.send(ArtnetTest::artPoll(), NetnsPair::NODE_IP);
    Datagram reply = poller.next(2000);
    e.short_name = "L1 ? back";
    e.locating = false;
    e.count = 2;
    expectReply(reply.bytes, e);

    node.reset();  // the newest change is written at the latest on the way out
    const std::string text = ArtnetTest::readFile(config);
    EXPECT_NE(text.find("# rig left\n"), std::string::npos) << text;
    EXPECT_NE(text.find("# patched by hand"), std::string::npos) << text;
    ConfigLoader stored(config);
    EXPECT_EQ(stored.getArtnetNet(), 1);
    EXPECT_EQ(stored.getArtnetSubnet(), 2);
    EXPECT_EQ(stored.getArtnetUniverse(), 3);
    EXPECT_EQ(stored.getShortName(), "L1 ? back");
    EXPECT_EQ(stored.getLongName(), "Stage left projector");
    EXPECT_EQ(stored.getVormelDMXStart(), 1);
}

// Art-Net 4: the node tells its networks by itself that it is there, and when DMX starts
// arriving, to the directed broadcast address; these replies count in no NodeReport.
TEST_F(PollReply, NodeAnnouncesItselfAtStartAndWhenDmxStarts) {
    ArtnetTest::HeadlessScreen screen(1);
    pair = std::make_unique<NetnsPair>("eth0");
    std::unique_ptr<Poller> poller;
    {
        InNetns in_ctl(pair->ctl);
        poller = std::make_unique<Poller>();
    }
    // A link just set up drops what is sent before it carries (a booting Pi's the same).
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    {
        InNetns in_node(pair->node);
        ArtnetReceiverProbe::Settings settings;
        settings.screen = screen.manager();
        settings.canvases_id = screen.groupId();
        settings.start_listener = true;
        node.reset(ArtnetReceiverProbe::create(settings));
    }
    Expected e{{10, 254, 55, 2}, macOf(pair->node, "eth0")};
    Datagram start = poller->next(2000);
    EXPECT_EQ(start.from, NetnsPair::NODE_IP);
    expectReply(start.bytes, e);
    InNetns in_ctl(pair->ctl);
    ArtnetTest::Sender sender;
    sender.send(ArtnetTest::artDmx(0x00, 2, {1, 2}), NetnsPair::NODE_IP);
    e.dmx = true;
    expectReply(poller->next(2000).bytes, e);
    sender.send(ArtnetTest::artDmx(0x00, 2, {1, 3}), NetnsPair::NODE_IP);
    EXPECT_TRUE(poller->next(300).bytes.empty()) << "DMX going on is no news";
    node.reset();  // before the screen it drives
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
