// A flood of 100 000 datagrams a second mixing Art-Net and sACN (valid frames, other
// universes, garbage, alternate start codes, preview data and a new source identifier in
// every sixteenth datagram) against a live node while the render loop runs at a display's
// pace. LUMETRA_FLOOD_SECONDS sets the flood's length (default 3).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "dmx_input/artnet_test_support.h"
#include "dmx_input/flood_watch.h"
#include "dmx_input/sacn_test_support.h"
#include "artnet_receiver.h"

namespace Lumetra {
namespace {

using ArtnetTest::artDmx;
using ArtnetTest::Bytes;
using ArtnetTest::sacnData;
using ArtnetTest::SacnFields;

constexpr int UNIVERSE = 1;
constexpr int WINNER_CID = 77;
constexpr int WINNER_PRIORITY = 150;
constexpr int CANVASES = 4;

SacnFields winner(const std::vector<uint8_t>& slots, int sequence) {
    SacnFields f;
    f.cid = ArtnetTest::cidNumber(WINNER_CID);
    f.priority = WINNER_PRIORITY;
    f.sequence = sequence & 0xff;
    f.universe = UNIVERSE;
    f.slots = slots;
    return f;
}

struct Datagram {
    Bytes bytes;
    int port;
};

// One datagram of the mix. Half are the winner's frames, numbered in sequence; the pool of
// 4096 holds 2048 of them, a whole number of sequence turns, so that it can be replayed.
Datagram floodDatagram(unsigned long n) {
    const std::vector<uint8_t> frame = ArtnetTest::floodFrame(n, CANVASES);
    SacnFields other;
    other.universe = UNIVERSE;
    other.slots = frame;
    switch (n % 16) {
        case 0:
            return {artDmx(0x01, 80, frame), 6454};  // Art-Net, another universe
        case 1:
            return {Bytes(n % 700, static_cast<unsigned char>(n)), 6454};  // garbage
        case 2:
            other.universe = UNIVERSE + 1;
            return {sacnData(other), 5568};
        case 3:
            return {Bytes(n % 700, static_cast<unsigned char>(n)), 5568};
        case 4: {
            Bytes cut = sacnData(other);
            cut.resize(cut.size() - 1 - n % 50);  // lengths no longer agree
            return {cut, 5568};
        }
        case 5:  // a new source identifier every time, below the winner's priority
            other.cid = ArtnetTest::cidNumber(1000 + static_cast<int>(n));
            other.priority = 50;
            return {sacnData(other), 5568};
        case 6:  // above the winner, but per-address priorities
            other.priority = 200;
            other.start_code = 0xdd;
            return {sacnData(other), 5568};
        case 7:  // above the winner, but preview data
            other.priority = 200;
            other.options = 0x80;
            return {sacnData(other), 5568};
        default:
            return {sacnData(winner(frame, static_cast<int>(n / 16 * 8 + n % 16 - 8))), 5568};
    }
}

TEST(SacnFlood, RenderLoopKeepsItsPaceMemoryStaysFlatAndTheWinnersLastFrameShows) {
    const int seconds = ArtnetTest::floodSeconds();
    setenv("LUMETRA_REFRESH", "60", 1);
    ArtnetTest::HeadlessScreen screen(CANVASES);
    auto receiver = std::make_unique<ArtnetReceiver>(screen.manager(), screen.groupId(), 0, 0, 1,
                                                     1.0f, -1, UNIVERSE);
    std::vector<Datagram> pool;
    for (unsigned long n = 0; n < 4096; ++n) {
        pool.push_back(floodDatagram(n));
    }
    ArtnetTest::Sender sender;
    const int fds_before = ArtnetTest::openDescriptors();
    const ArtnetTest::FloodRun run =
        ArtnetTest::runFlood(screen.manager(), seconds,
                             [&](unsigned long n) {
                                 const Datagram& d = pool[n % pool.size()];
                                 sender.send(d.bytes, "127.0.0.1", d.port);
                             },
                             {":1936", ":15C0"});
    // The winner goes on sending its last look, in sequence, as a desk does; a stray
    // source that outlived the flood cannot outrank it.
    const int last_sequence = static_cast<int>((run.sent - 1) / 16 * 8 + 7);
    for (int i = 1; i <= 40; ++i) {
        sender.send(sacnData(winner(ArtnetTest::lastLook(CANVASES), last_sequence + i)),
                    "127.0.0.1", 5568);
        ArtnetTest::countFrames(screen.manager(), std::chrono::milliseconds(10));
    }
    ArtnetTest::countFrames(screen.manager(), std::chrono::milliseconds(300));

    ArtnetTest::expectNodeHeldUp("sACN flood", run, seconds, fds_before);
    // The rate the sender reached depends on the machine and its load (tests run side by
    // side), so it is reported, not checked: the checks are on what the node made of it.
    RecordProperty("datagrams_per_second", static_cast<int>(run.sent / run.watch.seconds));
    ArtnetTest::expectLastLook(screen.manager(), screen.canvases());
    receiver.reset();
}

}  // namespace
}  // namespace Lumetra
