// What holding frames for ArtSync costs the listener per datagram: the packet check with the
// hold in front of it, applying at once and holding, and a sync that applies a held frame.
// The render thread does nothing for it: a held frame never reaches the hand-over.
#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "artnet_packet.h"
#include "dmx_sync_hold.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Clock = Lumetra::DmxSyncHold::Clock;

Bytes fullArtDmx() {
    Bytes packet = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0, 14, 0, 0, 0, 0, 2, 0};
    for (int i = 0; i < 512; ++i) {
        packet.push_back(static_cast<unsigned char>(i));
    }
    return packet;
}

// One ArtDmx through the hold: where it goes, the check, and the hold's note of it.
void takeFrame(Lumetra::DmxSyncHold& hold, const Bytes& packet, unsigned char* live) {
    unsigned char* frame = hold.frameFor(live, Clock::now());
    const Lumetra::ArtnetPacketKind kind = Lumetra::examineArtnetPacket(
        packet.data(), static_cast<int>(packet.size()), 0, 0, 0, frame);
    if (kind == Lumetra::ARTNET_DMX) {
        benchmark::DoNotOptimize(hold.offered(1));
    }
}

void BM_ArtDmxWithoutHold(benchmark::State& state) {
    const Bytes packet = fullArtDmx();
    unsigned char live[512];
    for (auto _ : state) {
        benchmark::DoNotOptimize(Lumetra::examineArtnetPacket(
            packet.data(), static_cast<int>(packet.size()), 0, 0, 0, live));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ArtDmxWithoutHold);

// ArtDmx through the hold: applied at once (no sync seen), held (a sync seen), or a desk's
// cue, one frame and then the sync that applies it.
enum class HoldCase { AppliedAtOnce, Held, FrameAndSync };

void BM_ArtDmxThroughHold(benchmark::State& state) {
    const auto which = static_cast<HoldCase>(state.range(0));
    const Bytes packet = fullArtDmx();
    unsigned char live[512];
    Lumetra::DmxSyncHold hold;
    if (which != HoldCase::AppliedAtOnce) {
        takeFrame(hold, packet, live);
        hold.sync(1, live, Clock::now());
    }
    for (auto _ : state) {
        takeFrame(hold, packet, live);
        if (which == HoldCase::FrameAndSync) {
            benchmark::DoNotOptimize(hold.sync(1, live, Clock::now()));
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(which == HoldCase::AppliedAtOnce ? "applied at once"
                   : which == HoldCase::Held        ? "held"
                                                    : "frame and sync");
}
BENCHMARK(BM_ArtDmxThroughHold)
    ->Arg(static_cast<int>(HoldCase::AppliedAtOnce))
    ->Arg(static_cast<int>(HoldCase::Held))
    ->Arg(static_cast<int>(HoldCase::FrameAndSync));

}  // namespace

BENCHMARK_MAIN();
