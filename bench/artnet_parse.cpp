// How many datagrams a second the node can examine: the packet check alone, and the whole
// non-blocking drain of a real socket on loopback.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "artnet_packet.h"
#include "tests/dmx_input/artnet_probe.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes artDmx(int sub_uni, int length) {
    Bytes packet = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0, 14, 0, 0};
    packet.push_back(static_cast<unsigned char>(sub_uni));
    packet.push_back(0);
    packet.push_back(static_cast<unsigned char>(length >> 8));
    packet.push_back(static_cast<unsigned char>(length & 0xff));
    for (int i = 0; i < length; ++i) {
        packet.push_back(static_cast<unsigned char>(i));
    }
    return packet;
}

void BM_ExamineFullArtDmx(benchmark::State& state) {
    Bytes packet = artDmx(0, 512);
    unsigned char frame[512];
    for (auto _ : state) {
        benchmark::DoNotOptimize(Lumetra::examineArtnetPacket(
            packet.data(), static_cast<int>(packet.size()), 0, 0, frame));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExamineFullArtDmx);

void BM_ExamineOtherUniverse(benchmark::State& state) {
    Bytes packet = artDmx(0x35, 512);
    unsigned char frame[512];
    for (auto _ : state) {
        benchmark::DoNotOptimize(Lumetra::examineArtnetPacket(
            packet.data(), static_cast<int>(packet.size()), 0, 0, frame));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ExamineOtherUniverse);

// Full-size frames queued on loopback and drained by the receiver as its listener would.
void BM_DrainLoopback(benchmark::State& state) {
    const int batch = static_cast<int>(state.range(0));
    Lumetra::ArtnetReceiverProbe::Settings settings;
    std::unique_ptr<Lumetra::ArtnetReceiver> receiver(
        Lumetra::ArtnetReceiverProbe::create(settings));
    Lumetra::ArtnetReceiverProbe probe(receiver.get());
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6454);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Bytes packet = artDmx(0, 512);
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < batch; ++i) {
            sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof(to));
        }
        state.ResumeTiming();
        benchmark::DoNotOptimize(probe.receive());
    }
    close(fd);
    state.SetItemsProcessed(state.iterations() * batch);
}
BENCHMARK(BM_DrainLoopback)->Arg(1)->Arg(100);

}  // namespace

BENCHMARK_MAIN();
