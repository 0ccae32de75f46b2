// Interoperability with a real Art-Net controller: OLA's olad (Art-Net plugin only, in its
// default mode, which sends DMX only to nodes whose poll replies subscribe them) in one
// network namespace discovers the node and drives its canvases in another, and tshark's
// Art-Net dissector checks the node's replies to OLA's polls on the wire.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <memory>
#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_probe.h"
#include "dmx_input/artnet_test_support.h"
#include "dmx_input/netns_support.h"

extern char** environ;

namespace Lumetra {
namespace {

using ArtnetTest::InNetns;
using ArtnetTest::NetnsPair;
using ArtnetTest::shell;
using ArtnetTest::shellOutput;

bool waitFor(const std::function<bool()>& condition, int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

// tshark capturing Art-Net on the node's eth0 into a file, stopped by its pid.
class Capture {
  public:
    Capture(const std::string& ns, const std::string& file, const std::string& log) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT, 0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        std::vector<std::string> args = {
            "ip", "netns",       "exec", ns,  "tshark", "-i", "eth0", "-f", "udp port 6454",
            "-a", "duration:60", "-w",   file};
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (posix_spawnp(&pid, "ip", &actions, nullptr, argv.data(), environ) != 0) {
            pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        started =
            pid > 0 &&
            waitFor(
                [&] { return ArtnetTest::readFile(log).find("Capturing on") != std::string::npos; },
                10000);
    }
    ~Capture() { stop(); }
    void stop() {
        if (pid > 0) {
            kill(pid, SIGINT);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    bool started = false;

  private:
    pid_t pid = -1;
};

class OlaInterop : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!NetnsPair::available()) {
            GTEST_SKIP() << NetnsPair::unavailableReason();
        }
        if (shell("command -v olad tshark setpriv >/dev/null") != 0) {
            GTEST_SKIP() << "needs olad (ola), tshark and setpriv: scripts/install-deps test";
        }
    }
    void TearDown() override {
        if (!ola_dir.empty()) {
            shell("OLA_DIR=" + ola_dir + " " + ArtnetTest::script("ola-stop.sh"));
        }
    }
    std::string ola(const std::string& command) {
        return "ip netns exec " + pair->ctl + " " + command;
    }

    // Outlives TearDown, which needs olad's pid file in here to stop it.
    ArtnetTest::ScratchDir scratch;
    std::unique_ptr<NetnsPair> pair;
    std::string ola_dir;
};

std::string channels(const std::vector<int>& values) {
    std::ostringstream text;
    for (size_t i = 0; i < values.size(); ++i) {
        text << (i ? "," : "") << values[i];
    }
    return text.str();
}

TEST_F(OlaInterop, OlaDrivesTheCanvasesAndReadsOurPollReplies) {
    ArtnetTest::HeadlessScreen screen(2);
    chmod(scratch.path().c_str(), 0755);  // olad runs as its own user and reads its config here
    pair = std::make_unique<NetnsPair>("eth0");
    Capture capture(pair->node, scratch.file("cap.pcapng"), scratch.file("tshark.log"));
    ASSERT_TRUE(capture.started) << ArtnetTest::readFile(scratch.file("tshark.log"));

    std::unique_ptr<ArtnetReceiver> node;
    {
        InNetns in_node(pair->node);
        node =
            std::make_unique<ArtnetReceiver>(screen.manager(), screen.groupId(), 2, 1, 1, 1.0f, -1);
    }
    // Subnet 1, OLA universe 2 -> SubUni 0x12; port 1 on universe 3 is a decoy.
    ola_dir = scratch.file("ola");
    std::string started = shellOutput("OLA_NS=" + pair->ctl + " OLA_DIR=" + ola_dir +
                                      " SUBNET=1 UNIVERSE=2 ALWAYS_BROADCAST=false " +
                                      ArtnetTest::script("ola-start.sh"));
    size_t at = started.find("ARTNET_DEV=");
    ASSERT_NE(at, std::string::npos) << ArtnetTest::readFile(ola_dir + "/olad.log");
    std::string dev = started.substr(at + 11, started.find('\n', at) - at - 11);
    ASSERT_EQ(shell(ola("ola_patch -d " + dev + " -p 1 -u 3")), 0);
    // OLA lists the node among those subscribed to its universe 2 once it has our reply.
    std::string nodes;
    EXPECT_TRUE(waitFor(
        [&] {
            nodes = shellOutput(ola("ola_artnet -d " + dev + " -u 2"));
            return nodes.find(NetnsPair::NODE_IP) != std::string::npos;
        },
        12000))
        << nodes;
    EXPECT_EQ(shellOutput(ola("ola_artnet -d " + dev + " -u 3")).find(NetnsPair::NODE_IP),
              std::string::npos)
        << "listed on the decoy universe";

    std::vector<int> frame(40, 0);
    frame[0] = 5;     // canvas 0: picture 5
    frame[1] = 255;   // alpha 1
    frame[10] = 255;  // red 1
    frame[15] = 127;  // speed channel: angle reset, no spin
    frame[16] = 127;
    frame[20] = 9;    // canvas 1: picture 9
    frame[27] = 8;    // two copies on the ring
    frame[34] = 200;  // strobe
    frame[35] = 127;
    frame[36] = 127;
    ASSERT_EQ(shell(ola("ola_set_dmx -u 3 -d 77,77,77,77")), 0);
    ASSERT_EQ(shell(ola("ola_set_dmx -u 2 -d " + channels(frame))), 0);
    auto canvases = screen.canvases();
    ASSERT_TRUE(waitFor([&] { return canvases[1]->getContentData() == 9; }, 3000))
        << shellOutput("grep -v -e PidStore -e EPoller " + ola_dir + "/olad.log | tail -20");
    EXPECT_EQ(canvases[0]->getContentData(), 5);
    EXPECT_EQ(canvases[0]->getAlpha(), 1.0f);
    EXPECT_EQ(canvases[0]->getR(), 1.0f);
    EXPECT_EQ(canvases[0]->getG(), 0.0f);
    EXPECT_EQ(canvases[1]->getNumber(), 2u);
    EXPECT_EQ(canvases[1]->getShutterSet(), 200);

    // A stream of frames, one per line: the canvases end as the last one says.
    ASSERT_EQ(shell("for i in $(seq 1 30); do echo \"$i,128\"; sleep 0.02; done | " +
                    ola("ola_streaming_client -u 2")),
              0);
    EXPECT_TRUE(waitFor([&] { return canvases[0]->getContentData() == 30; }, 3000));
    EXPECT_EQ(canvases[0]->getAlpha(), 128.0f / 255.0f);
    EXPECT_EQ(canvases[1]->getContentData(), 9) << "slots beyond OLA's short frame keep";

    // Moving the decoy port makes OLA poll again: that reply comes while DMX arrives.
    ASSERT_EQ(shell(ola("ola_patch -d " + dev + " -p 1 -u 4")), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    shell("OLA_DIR=" + ola_dir + " " + ArtnetTest::script("ola-stop.sh"));
    ola_dir.clear();
    node.reset();
    capture.stop();

    std::string pcap = scratch.file("cap.pcapng");
    auto tshark = [&](const std::string& filter, const std::string& fields) {
        return shellOutput("tshark -r " + pcap + " -Y '" + filter + "' -T fields -E separator=, " +
                           fields + " 2>/dev/null");
    };
    std::string polls =
        tshark("artnet.header.opcode == 0x2000 && ip.src == 10.254.55.1", "-e frame.number");
    // Answers to OLA's polls; the node's own announcements go to the broadcast address.
    const std::string answers =
        "artnet.header.opcode == 0x2100 && ip.src == 10.254.55.2 && "
        "ip.dst == 10.254.55.1";
    std::string replies =
        tshark(answers,
               "-e ip.dst -e udp.dstport -e udp.length -e artnet.poll_reply.ip_address "
               "-e artnet.poll_reply.port_nr -e artnet.poll_reply.short_name "
               "-e artnet.poll_reply.netswitch -e artnet.poll_reply.subswitch "
               "-e artnet.poll_reply.num_ports -e artnet.poll_reply.port_types_1 "
               "-e artnet.poll_reply.swout_1 -e artnet.poll_reply.swout_1_universe "
               "-e artnet.poll_reply.style -e artnet.poll_reply.bind_ip_address "
               "-e artnet.poll_reply.bind_index -e artnet.poll_reply.long_name");
    std::string extras = tshark(answers,
                                "-e artnet.poll_reply.mac -e artnet.poll_reply.good_output_1 "
                                "-e artnet.poll_reply.node_report");
    ASSERT_FALSE(polls.empty()) << "OLA sent no poll";
    if (HasFailure()) {
        std::printf("%s\n", shellOutput("tshark -r " + pcap + " 2>/dev/null").c_str());
    }
    char host[256] = {};
    gethostname(host, sizeof(host) - 1);
    const std::string expected = std::string("10.254.55.1,6454,394,10.254.55.2,6454,VORMEL,") +
                                 "0x00,0x01,1,0x80,0x12,18,0x00,10.254.55.2,0x01,Lumetra " + host;
    std::istringstream lines(replies);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        EXPECT_EQ(line, expected);
        ++count;
    }
    EXPECT_EQ(count, static_cast<int>(std::count(polls.begin(), polls.end(), '\n')))
        << "one reply per poll";
    // Our MAC in each; the last reply, after OLA's DMX, shows data arriving.
    std::string mac = shellOutput("ip -n " + pair->node + " -o link show eth0");
    mac = mac.substr(mac.find("link/ether ") + 11, 17);
    std::string last = extras.substr(extras.rfind('\n', extras.size() - 2) + 1);
    EXPECT_EQ(extras.find(mac), 0u) << extras;
    EXPECT_EQ(last.substr(0, 18), mac + ",") << last;
    EXPECT_NE(last.find(",0x80,#0001 ["), std::string::npos) << last;
    EXPECT_NE(last.find("] DMX arriving"), std::string::npos) << last;
    // OLA sent our universe to us alone, and never its decoy.
    std::string dmx =
        tshark("artnet.header.opcode == 0x5000", "-e ip.dst -e artnet.output.universe");
    EXPECT_NE(dmx.find("10.254.55.2,18\n"), std::string::npos) << dmx;
    EXPECT_EQ(dmx.find(",19"), std::string::npos) << dmx;
    EXPECT_EQ(dmx.find("10.254.55.255"), std::string::npos) << dmx;
}

}  // namespace
}  // namespace Lumetra
