// A flood of mixed datagrams at 100 000 a second against a live node while the render
// loop runs at a display's pace. LUMETRA_FLOOD_SECONDS sets the flood's length (default 3).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "artnet_receiver.h"
#include "dmx_input/artnet_test_support.h"
#include "dmx_input/flood_watch.h"

namespace Lumetra {
namespace {

using ArtnetTest::artDmx;
using ArtnetTest::Bytes;

// One datagram of the mix: mostly valid frames, and every kind the node must shrug off.
Bytes floodDatagram(unsigned long n) {
    const Bytes frame = ArtnetTest::floodFrame(n, 4);
    switch (n % 16) {
        case 0:
            return artDmx(0x01, 80, frame);  // another universe
        case 1:
            return ArtnetTest::artPoll();
        case 2:
            return Bytes(n % 700, static_cast<unsigned char>(n));  // garbage
        case 3: {
            Bytes cut = artDmx(frame);
            cut.resize(18 - n % 10);  // truncated header
            return cut;
        }
        case 4:
            return artDmx(0x00, 513, frame);  // bad Length
        default:
            return artDmx(frame);
    }
}

TEST(Flood, RenderLoopKeepsItsPaceAndCanvasesEndAsTheLastValidPacket) {
    const int seconds = ArtnetTest::floodSeconds();
    setenv("LUMETRA_REFRESH", "60", 1);
    ArtnetTest::HeadlessScreen screen(4);
    auto receiver =
        std::make_unique<ArtnetReceiver>(screen.manager(), screen.groupId(), 0, 0, 1, 1.0f, -1);
    std::vector<Bytes> pool;
    for (unsigned long n = 0; n < 4096; ++n) {
        pool.push_back(floodDatagram(n));
    }
    ArtnetTest::Sender sender;
    const int fds_before = ArtnetTest::openDescriptors();
    const ArtnetTest::FloodRun run = ArtnetTest::runFlood(
        screen.manager(), seconds, [&](unsigned long n) { sender.send(pool[n % pool.size()]); },
        {":1936"});
    ArtnetTest::Sender().send(artDmx(ArtnetTest::lastLook(4)));
    ArtnetTest::countFrames(screen.manager(), std::chrono::milliseconds(300));

    ArtnetTest::expectNodeHeldUp("flood", run, seconds, fds_before);
    // The rate the sender reached depends on the machine and its load, so it is reported,
    // not checked: the checks are on what the node made of what it was sent.
    RecordProperty("datagrams_per_second", static_cast<int>(run.sent / run.watch.seconds));
    ArtnetTest::expectLastLook(screen.manager(), screen.canvases());
    receiver.reset();
}

}  // namespace
}  // namespace Lumetra
