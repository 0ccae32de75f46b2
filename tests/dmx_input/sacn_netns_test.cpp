// sACN from another network stack: the node runs in one namespace, its sources (our own
// senders and OLA's E1.31 plugin) in another, joined by a veth pair. Multicast, unicast,
// priorities, silence, stream termination and alternate start codes.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "dmx_input/artnet_test_support.h"
#include "dmx_input/netns_support.h"
#include "dmx_input/sacn_test_support.h"
#include "artnet_receiver.h"
#include "sacn_packet.h"

extern char** environ;

namespace Lumetra {
namespace {

using ArtnetTest::InNetns;
using ArtnetTest::NetnsPair;
using ArtnetTest::SacnFields;
using ArtnetTest::SacnSource;
using ArtnetTest::shell;
using ArtnetTest::shellOutput;
using Clock = std::chrono::steady_clock;

constexpr int UNIVERSE = 5;
const char* const GROUP = "239.255.0.5";

bool waitFor(const std::function<bool()>& condition, int timeout_ms) {
    auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}

// True when the condition holds on every look for `ms`.
bool holds(const std::function<bool()>& condition, int ms) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (!condition()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

SacnFields picture(int n, int priority = 100, int cid = 1) {
    SacnFields f;
    f.cid = ArtnetTest::cidNumber(cid);
    f.priority = priority;
    f.universe = UNIVERSE;
    f.slots = {static_cast<uint8_t>(n), 255};
    return f;
}

class SacnNetns : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!NetnsPair::available()) {
            GTEST_SKIP() << "needs root and ip netns";
        }
        pair = std::make_unique<NetnsPair>("eth0");
    }
    void TearDown() override {
        sources.clear();
        node.reset();
    }
    void startNode() {
        InNetns in_node(pair->node);
        node = std::make_unique<ArtnetReceiver>(screen.manager(), screen.groupId(), 0, 0, 1, 1.0f,
                                                -1, UNIVERSE);
    }
    SacnSource& addSource(const SacnFields& f, const std::string& to = GROUP) {
        InNetns in_ctl(pair->ctl);
        sources.push_back(std::make_unique<SacnSource>(f, to, NetnsPair::CTL_IP));
        return *sources.back();
    }
    int shown() { return screen.canvases()[0]->getContentData(); }
    bool shows(int n) { return shown() == n; }

    ArtnetTest::HeadlessScreen screen{1};
    std::unique_ptr<NetnsPair> pair;
    std::unique_ptr<ArtnetReceiver> node;
    std::vector<std::unique_ptr<SacnSource>> sources;
};

TEST_F(SacnNetns, MulticastAndUnicastFromAnotherHostDriveTheCanvases) {
    startNode();
    SacnSource& multicast = addSource(picture(5));
    ASSERT_TRUE(waitFor([&] { return shows(5); }, 5000)) << "sent " << multicast.sent();
    EXPECT_EQ(screen.canvases()[0]->getAlpha(), 1.0f);
    multicast.stop();
    addSource(picture(6, 100, 2), NetnsPair::NODE_IP);
    EXPECT_TRUE(waitFor([&] { return shows(6); }, 5000));
}

// A sync packet multicast to the sync universe's group from another host.
void sendSync(const NetnsPair& pair, int sync_universe) {
    InNetns in_ctl(pair.ctl);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    in_addr from{};
    inet_pton(AF_INET, NetnsPair::CTL_IP, &from);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof(from));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5568);
    to.sin_addr.s_addr = htonl(sacnMulticastGroup(sync_universe));
    const std::vector<uint8_t> p = ArtnetTest::sacnSync(sync_universe);
    sendto(fd, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    close(fd);
}

// A desk synchronizing on universe 9: each look shows at its sync, multicast on 9's group.
// When the syncs stop, Force_Synchronization set shows new looks at once after 2.5 s;
// clear holds the last synchronized look.
TEST_F(SacnNetns, SynchronizedLooksShowAtTheSyncAndForceSynchronizationDecidesOnLoss) {
    startNode();
    {
        // A desk that went through many sync universes first: the one it uses now counts.
        InNetns in_ctl(pair->ctl);
        ArtnetTest::Sender desk;
        for (int sync = 100; sync < 140; ++sync) {
            SacnFields f = picture(29, 100, 9);
            f.sync_address = sync;
            f.sequence = sync;
            desk.send(ArtnetTest::sacnData(f), NetnsPair::NODE_IP, 5568);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    for (int force : {0, 0x20}) {
        SCOPED_TRACE(force ? "Force_Synchronization set" : "Force_Synchronization clear");
        SacnFields f = picture(30 + force, 100, 1 + force);
        f.sync_address = 9;
        f.options = force;
        SacnSource& desk = addSource(f);
        EXPECT_TRUE(holds([&] { return !shows(30 + force); }, 600)) << "shown before its sync";
        sendSync(*pair, 9);
        ASSERT_TRUE(waitFor([&] { return shows(30 + force); }, 3000)) << "sent " << desk.sent();
        f.slots[0] = static_cast<uint8_t>(31 + force);
        desk.setFields(f);
        if (force) {
            EXPECT_TRUE(waitFor([&] { return shows(31 + force); }, 2500 + 2000));
        } else {
            EXPECT_TRUE(holds([&] { return shows(30); }, 3500)) << "the last look is held";
            sendSync(*pair, 9);
            EXPECT_TRUE(waitFor([&] { return shows(31); }, 3000));
        }
        desk.terminate();
    }
}

TEST_F(SacnNetns, InterfaceThatComesUpLaterIsJoined) {
    ASSERT_EQ(shell("ip -n " + pair->node + " link set eth0 down"), 0);
    startNode();
    ASSERT_EQ(shell("ip -n " + pair->node + " link set eth0 up"), 0);
    SacnSource& source = addSource(picture(8));
    EXPECT_TRUE(waitFor([&] { return shows(8); }, 10000)) << "sent " << source.sent();
}

TEST_F(SacnNetns, HigherPriorityShowsAndTheOtherTakesOverWhenItFallsSilent) {
    startNode();
    addSource(picture(10, 100, 1));
    SacnSource& high = addSource(picture(20, 150, 2));
    ASSERT_TRUE(waitFor([&] { return shows(20); }, 5000));
    EXPECT_TRUE(holds([&] { return shows(20); }, 500)) << "the lower source never shows";
    high.stop();
    const auto silent = Clock::now();
    ASSERT_TRUE(waitFor([&] { return shows(10); }, 8000));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - silent);
    std::printf("takeover after %lld ms of silence\n", static_cast<long long>(took.count()));
    EXPECT_GE(took.count(), 2400) << "not before the 2.5 s timeout";
    EXPECT_LE(took.count(), 2500 + 50 + 1000) << "timeout, one cycle, and room for a busy host";
}

TEST_F(SacnNetns, StreamTerminationHandsOverAtOnceAndTheLastValuesStay) {
    startNode();
    SacnSource& low = addSource(picture(10, 100, 1));
    SacnSource& high = addSource(picture(20, 150, 2));
    ASSERT_TRUE(waitFor([&] { return shows(20); }, 5000));
    high.terminate();
    const auto ended = Clock::now();
    ASSERT_TRUE(waitFor([&] { return shows(10); }, 5000));
    EXPECT_LT(Clock::now() - ended, std::chrono::milliseconds(2000)) << "well before 2.5 s";
    low.terminate();
    EXPECT_TRUE(holds([&] { return shows(10); }, 3000)) << "no source left: the canvas keeps";
}

TEST_F(SacnNetns, AlternateStartCodesChangeNothing) {
    startNode();
    SacnSource& source = addSource(picture(10));
    ASSERT_TRUE(waitFor([&] { return shows(10); }, 5000));
    SacnFields priorities = picture(99);
    priorities.start_code = 0xdd;
    source.setFields(priorities);
    EXPECT_TRUE(holds([&] { return shows(10); }, 3000));
    source.setFields(picture(11));
    EXPECT_TRUE(waitFor([&] { return shows(11); }, 5000));
}

class OlaE131 : public SacnNetns {
  protected:
    void SetUp() override {
        SacnNetns::SetUp();
        if (IsSkipped()) {
            return;
        }
        if (shell("command -v olad >/dev/null") != 0) {
            GTEST_SKIP() << "needs olad";
        }
    }
    void TearDown() override {
        if (!ola_dir.empty()) {
            shell("OLA_DIR=" + ola_dir + " " + ArtnetTest::script("ola-stop.sh"));
        }
        SacnNetns::TearDown();
    }
    std::string ola(const std::string& command) {
        return "ip netns exec " + pair->ctl + " " + command;
    }
    ArtnetTest::ScratchDir scratch;
    std::string ola_dir;
};

TEST_F(OlaE131, OlaDrivesTheCanvasesOverMulticast) {
    chmod(scratch.path().c_str(), 0755);
    startNode();
    ola_dir = scratch.file("ola");
    std::string started = shellOutput(
        "OLA_NS=" + pair->ctl + " OLA_DIR=" + ola_dir + " OLA_IP=" + NetnsPair::CTL_IP +
        " UNIVERSE=" + std::to_string(UNIVERSE) + " " + ArtnetTest::script("ola-e131-start.sh"));
    ASSERT_NE(started.find("E131_DEV="), std::string::npos)
        << ArtnetTest::readFile(ola_dir + "/olad.log");
    ASSERT_EQ(shell(ola("ola_set_dmx -u " + std::to_string(UNIVERSE) + " -d 7,255,0,0,0,0,0,8")),
              0);
    ASSERT_TRUE(waitFor([&] { return shows(7); }, 5000))
        << shellOutput("tail -20 " + ola_dir + "/olad.log");
    EXPECT_EQ(screen.canvases()[0]->getAlpha(), 1.0f);
    EXPECT_EQ(screen.canvases()[0]->getNumber(), 2u);
    ASSERT_EQ(shell("for i in $(seq 1 30); do echo \"$i,128\"; sleep 0.02; done | " +
                    ola("ola_streaming_client -u " + std::to_string(UNIVERSE))),
              0);
    EXPECT_TRUE(waitFor([&] { return shows(30); }, 3000));
    EXPECT_EQ(screen.canvases()[0]->getAlpha(), 128.0f / 255.0f);
}

// QLC+ with a workspace whose E1.31 output sends universe 0 unicast to the node: one
// generic dimmer of 8 channels and a scene started at load, in operate mode, offscreen.
class QlcE131 : public SacnNetns {
  protected:
    void SetUp() override {
        SacnNetns::SetUp();
        if (!IsSkipped() && shell("command -v qlcplus >/dev/null") != 0) {
            GTEST_SKIP() << "needs qlcplus";
        }
    }
    void TearDown() override {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        SacnNetns::TearDown();
    }
    void start(const std::string& values) {
        const std::string workspace = scratch.file("lumetra.qxw");
        ArtnetTest::writeFile(
            workspace,
            std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE Workspace>\n"
                        "<Workspace xmlns=\"http://www.qlcplus.org/Workspace\">\n"
                        " <Engine Autostart=\"0\">\n  <InputOutputMap>\n"
                        "   <Universe Name=\"Universe 1\" ID=\"0\">\n"
                        "    <Output Plugin=\"E1.31\" UID=\"") +
                NetnsPair::CTL_IP +
                "\" Line=\"1\">\n     <PluginParameters multicast=\"0\" ucastIP=\"" +
                NetnsPair::NODE_IP + "\" universe=\"" + std::to_string(UNIVERSE) +
                "\"/>\n    </Output>\n   </Universe>\n  </InputOutputMap>\n"
                "  <Fixture><Manufacturer>Generic</Manufacturer><Model>Generic</Model>"
                "<Mode>Generic</Mode><ID>0</ID><Name>Dimmers</Name><Universe>0</Universe>"
                "<Address>0</Address><Channels>8</Channels></Fixture>\n"
                "  <Function Type=\"Scene\" Name=\"Look\" ID=\"0\">"
                "<Speed FadeIn=\"0\" FadeOut=\"0\" Duration=\"0\"/>"
                "<FixtureVal ID=\"0\">" +
                values + "</FixtureVal></Function>\n </Engine>\n</Workspace>\n");
        const std::string log = scratch.file("qlcplus.log");
        std::string home = "HOME=" + scratch.path();
        std::vector<std::string> args = {"ip",        "netns",     "exec", pair->ctl, "qlcplus",
                                         "-platform", "offscreen", "-o",   workspace, "-p"};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        std::vector<char*> env;
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "HOME=", 5) != 0) {
                env.push_back(*e);
            }
        }
        env.push_back(home.data());
        env.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawnp(&pid, "ip", &actions, nullptr, argv.data(), env.data()) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ArtnetTest::ScratchDir scratch;
    pid_t pid = -1;
};

TEST_F(QlcE131, QlcDrivesTheCanvasesOverUnicast) {
    startNode();
    start("0,42,1,255,7,8");  // picture 42, full opacity, two copies on the ring
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(waitFor([&] { return shows(42); }, 30000))
        << ArtnetTest::readFile(scratch.file("qlcplus.log"));
    EXPECT_EQ(screen.canvases()[0]->getAlpha(), 1.0f);
    EXPECT_EQ(screen.canvases()[0]->getNumber(), 2u);
}

}  // namespace
}  // namespace Lumetra
