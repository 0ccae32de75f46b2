// How many sACN datagrams a second the node can check: the packet check alone, the check
// with the source table, and the whole non-blocking drain of a real socket on loopback.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "sacn_input.h"
#include "sacn_packet.h"
#include "sacn_source_table.h"
#include "dmx_input/sacn_test_support.h"

namespace {

using Lumetra::ArtnetTest::sacnData;
using Lumetra::ArtnetTest::SacnFields;

std::vector<uint8_t> fullPacket(int universe = 1, int sequence = 0) {
    SacnFields f;
    f.universe = universe;
    f.sequence = sequence;
    f.slots.assign(512, 0x42);
    return sacnData(f);
}

void BM_ExamineFullSacn(benchmark::State& state) {
    std::vector<uint8_t> packet = fullPacket();
    Lumetra::SacnDataPacket out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Lumetra::examineSacnPacket(packet.data(), static_cast<int>(packet.size()), 1, &out));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExamineFullSacn);

void BM_ExamineOtherUniverse(benchmark::State& state) {
    std::vector<uint8_t> packet = fullPacket(2);
    Lumetra::SacnDataPacket out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            Lumetra::examineSacnPacket(packet.data(), static_cast<int>(packet.size()), 1, &out));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExamineOtherUniverse);

// Check, then the source table with a full table of 16 sources, writing the frame.
void BM_ExamineAndTakeFull(benchmark::State& state) {
    std::vector<std::vector<uint8_t>> packets;
    for (int n = 0; n < 16; ++n) {
        SacnFields f;
        f.cid = Lumetra::ArtnetTest::cidNumber(n);
        f.slots.assign(512, static_cast<uint8_t>(n));
        packets.push_back(sacnData(f));
    }
    Lumetra::SacnSourceTable table;
    uint8_t frame[512];
    uint8_t sequence = 0;
    size_t i = 0;
    for (auto _ : state) {
        std::vector<uint8_t>& p = packets[i++ % packets.size()];
        if (i % 16 == 0) {
            ++sequence;
        }
        p[111] = sequence;
        Lumetra::SacnDataPacket out;
        Lumetra::SacnPacketKind kind =
            Lumetra::examineSacnPacket(p.data(), static_cast<int>(p.size()), 1, &out);
        benchmark::DoNotOptimize(table.take(kind, out, frame));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExamineAndTakeFull);

// Full-size packets queued on loopback and drained as the listener's cycle does.
void BM_DrainLoopback(benchmark::State& state) {
    const int batch = static_cast<int>(state.range(0));
    Lumetra::SacnInput input(1);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5568);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int sequence = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < batch; ++i) {
            std::vector<uint8_t> packet = fullPacket(1, ++sequence);
            sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof(to));
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(input.cycle());
    }
    close(fd);
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_DrainLoopback)->Arg(1)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
