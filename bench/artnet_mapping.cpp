// One pass of the DMX mapping over 25 canvases (the most a configuration allows) of a real
// canvas manager drawing offscreen.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "canvas/canvas_manager.h"
#include "tests/dmx_input/artnet_probe.h"

namespace {

void BM_MappingPass25Canvases(benchmark::State& state) {
    char dir[] = "/tmp/lumetra-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
        state.SkipWithError("no scratch directory");
        return;
    }
    mkdir("textures", 0755);
    setenv("LUMETRA_DISPLAY", "headless", 1);
    setenv("LUMETRA_SCREEN", "64x36", 1);
    auto screen = std::make_unique<Lumetra::CanvasManager>();
    int group = screen->generateCanvasGroup(25, "CONTENT_TEXTURE_256");
    Lumetra::ArtnetReceiverProbe::Settings settings;
    settings.screen = screen.get();
    settings.canvases_id = group;
    std::unique_ptr<Lumetra::ArtnetReceiver> receiver(
        Lumetra::ArtnetReceiverProbe::create(settings));
    Lumetra::ArtnetReceiverProbe probe(receiver.get());
    for (int i = 0; i < 512; ++i) {
        probe.dmx512()[i] = static_cast<unsigned char>(i * 13);
    }
    for (auto _ : state) {
        probe.updateCanvasValues();
    }
    state.SetItemsProcessed(state.iterations());
    receiver.reset();
    screen.reset();
    rmdir("textures");
    rmdir(dir);
}
BENCHMARK(BM_MappingPass25Canvases);

}  // namespace

BENCHMARK_MAIN();
