// GIF decoding speed: Lumetra's decoder against giflib's DGifSlurp followed by the same
// compositing into full-screen RGBA frames, on a large animation and a large single image
// written at start-up; and the fixture's own route for a slot's GIF (find the file, size
// it, reserve, decode). Throughput counts output frame bytes. peak_MB is the peak resident
// memory of one decode in a child process, above the child's starting level.
#include <benchmark/benchmark.h>
#include <gif_lib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"
#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"

namespace {

struct BenchFile {
    std::string path;
    int frames;
    size_t outputBytes;
};

// Smooth bands plus some noise: compresses like a photo-like picture, not like flat fills.
int pixelIndex(int x, int y, int t, int noise, uint32_t* seed) {
    *seed = *seed * 1664525u + 1013904223u;
    const int smooth = ((x + 3 * t) / 4 + (y * y) / (y + 40) + ((x * y) >> 9)) & 0xFF;
    return (smooth + static_cast<int>((*seed >> 24) % noise)) & 0xFF;
}

BenchFile writeGif(const std::string& path, int width, int height, int frames, int noise) {
    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i) {
        colours[i] = {static_cast<GifByteType>(i), static_cast<GifByteType>(255 - i),
                      static_cast<GifByteType>((i * 7) & 0xFF)};
    }
    ColorMapObject* map = GifMakeMapObject(256, colours);
    EGifSetGifVersion(gif, true);
    EGifPutScreenDesc(gif, width, height, 8, 0, map);
    std::vector<GifPixelType> row(width);
    uint32_t seed = 12345;
    for (int t = 0; t < frames; ++t) {
        if (frames > 1) {
            GraphicsControlBlock control = {DISPOSE_DO_NOT, false, 4, NO_TRANSPARENT_COLOR};
            GifByteType bytes[4];
            EGifGCBToExtension(&control, bytes);
            EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, bytes);
        }
        EGifPutImageDesc(gif, 0, 0, width, height, false, nullptr);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                row[x] = static_cast<GifPixelType>(pixelIndex(x, y, t, noise, &seed));
            }
            EGifPutLine(gif, row.data(), width);
        }
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return {path, frames, static_cast<size_t>(width) * height * 4 * frames};
}

const BenchFile& animation() {
    static const BenchFile file = writeGif("/tmp/lumetra_bench_anim.gif", 800, 600, 40, 8);
    return file;
}

const BenchFile& stillImage() {
    static const BenchFile file = writeGif("/tmp/lumetra_bench_still.gif", 4000, 3000, 1, 64);
    return file;
}

void freeFrames(unsigned char** frames, int count) {
    for (int i = 0; i < count; ++i) {
        free(frames[i]);
    }
    free(frames);
}

int decodeLumetra(const std::string& path) {
    Lumetra::GIFLoader loader;
    int width = 0;
    int height = 0;
    Lumetra::GifAnimationInfo info = {};
    unsigned char** frames = loader.loadAnimatedGif(path.c_str(), &width, &height, &info);
    if (frames == nullptr) {
        return 0;
    }
    freeFrames(frames, info.numberOfImages);
    free(info.delayArray);
    return info.numberOfImages;
}

// The slot loader's route: the file becomes ./textures/001.gif of a scratch directory that
// this process works in from then on.
int decodeSlot(const std::string& path) {
    static const std::string dir = "/tmp/lumetra_bench_slot_" + std::to_string(getpid());
    static std::string linked;
    if (linked != path) {
        mkdir(dir.c_str(), 0700);
        mkdir((dir + "/textures").c_str(), 0700);
        const std::string link = dir + "/textures/001.gif";
        unlink(link.c_str());
        if (symlink(path.c_str(), link.c_str()) != 0 || chdir(dir.c_str()) != 0) {
            return 0;
        }
        linked = path;
    }
    static const Lumetra::PictureLimits limits =
        Lumetra::PictureLimits::forTotal(1 << 14, 4ull << 30);
    Lumetra::DecodedPicture picture = Lumetra::decodeSlot(1, limits);
    return picture.gif_buffer != nullptr ? picture.gif_info.numberOfImages : 0;
}

// Leaves /tmp as it was.
void removeSlotDirectory() {
    const std::string dir = "/tmp/lumetra_bench_slot_" + std::to_string(getpid());
    unlink((dir + "/textures/001.gif").c_str());
    rmdir((dir + "/textures").c_str());
    rmdir(dir.c_str());
}

void buildLookup(const ColorMapObject* map, int transparent, uint8_t lookup[256 * 4]) {
    for (int i = 0; i < 256; ++i) {
        const bool inMap = map != nullptr && i < map->ColorCount;
        lookup[4 * i] = inMap ? map->Colors[i].Red : 0;
        lookup[4 * i + 1] = inMap ? map->Colors[i].Green : 0;
        lookup[4 * i + 2] = inMap ? map->Colors[i].Blue : 0;
        lookup[4 * i + 3] = i == transparent ? 0 : 255;
    }
}

void drawSaved(const GifFileType* gif, const SavedImage& image, const uint8_t* lookup,
               unsigned char* frame) {
    const GifImageDesc& d = image.ImageDesc;
    for (int y = 0; y < d.Height && d.Top + y < gif->SHeight; ++y) {
        const int visible = d.Left >= gif->SWidth ? 0 : std::min(d.Width, gif->SWidth - d.Left);
        unsigned char* out = frame + 4 * (static_cast<size_t>(d.Top + y) * gif->SWidth + d.Left);
        const GifByteType* in = image.RasterBits + static_cast<size_t>(y) * d.Width;
        for (int x = 0; x < visible; ++x) {
            memcpy(out + 4 * x, lookup + 4 * in[x], 4);
        }
    }
}

// giflib plus the fixture's compositing rules, producing the same malloc'd frames.
int decodeGiflib(const std::string& path) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr || DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &error);
        return 0;
    }
    const size_t frameBytes = static_cast<size_t>(gif->SWidth) * gif->SHeight * 4;
    std::vector<unsigned char*> frames{static_cast<unsigned char*>(calloc(frameBytes, 1))};
    uint8_t lookup[256 * 4];
    if (gif->SColorMap != nullptr) {
        buildLookup(gif->SColorMap, -1, lookup);
        for (size_t i = 0; i < frameBytes; i += 4) {
            memcpy(frames[0] + i, lookup + 4 * gif->SBackGroundColor, 4);
        }
    }
    bool newFrameDue = false;
    for (int i = 0; i < gif->ImageCount; ++i) {
        if (newFrameDue) {
            unsigned char* next = static_cast<unsigned char*>(malloc(frameBytes));
            memcpy(next, frames.back(), frameBytes);
            frames.push_back(next);
            newFrameDue = false;
        }
        GraphicsControlBlock gcb;
        const bool hasControl = DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK;
        const SavedImage& image = gif->SavedImages[i];
        buildLookup(image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap,
                    hasControl ? gcb.TransparentColor : -1, lookup);
        drawSaved(gif, image, lookup, frames.back());
        newFrameDue = hasControl && gcb.DelayTime > 0;
    }
    DGifCloseFile(gif, &error);
    for (unsigned char* frame : frames) {
        free(frame);
    }
    return static_cast<int>(frames.size());
}

int decodeNothing(const std::string&) {
    return 1;
}

int (*decoderNamed(const std::string& name))(const std::string&) {
    if (name == "lumetra") {
        return decodeLumetra;
    }
    if (name == "slot") {
        return decodeSlot;
    }
    return name == "giflib" ? decodeGiflib : decodeNothing;
}

// This process's peak resident memory in kB (VmHWM belongs to the process image, so it
// starts afresh with each exec).
long peakResidentKilobytes() {
    FILE* status = fopen("/proc/self/status", "r");
    char line[256];
    long kilobytes = 0;
    while (status != nullptr && fgets(line, sizeof line, status) != nullptr) {
        if (sscanf(line, "VmHWM: %ld", &kilobytes) == 1) {
            break;
        }
    }
    if (status != nullptr) {
        fclose(status);
    }
    return kilobytes;
}

// Peak resident memory of one decode in a fresh process, less that of a fresh process that
// decodes nothing, in MB.
double peakMegabytes(const char* decoder, const std::string& path) {
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
        return 0;
    }
    auto childPeak = [&](const char* name) {
        const std::string command =
            std::string("'") + self + "' --peak-child " + name + " '" + path + "'";
        FILE* child = popen(command.c_str(), "r");
        long kilobytes = 0;
        if (child != nullptr) {
            if (fscanf(child, "%ld", &kilobytes) != 1) {
                kilobytes = 0;
            }
            pclose(child);
        }
        return static_cast<double>(kilobytes) / 1024.0;
    };
    return childPeak(decoder) - childPeak("none");
}

void runBench(benchmark::State& state, const char* decoder, const BenchFile& file) {
    int (*decode)(const std::string&) = decoderNamed(decoder);
    for (auto _ : state) {
        const int frames = decode(file.path);
        if (frames != file.frames) {
            state.SkipWithError("decode failed");
            return;
        }
    }
    struct stat info;
    stat(file.path.c_str(), &info);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file.outputBytes));
    state.counters["file_MB"] = static_cast<double>(info.st_size) / (1 << 20);
    state.counters["frames_MB"] = static_cast<double>(file.outputBytes) / (1 << 20);
    state.counters["peak_MB"] = peakMegabytes(decoder, file.path);
}

void BM_LumetraAnimation(benchmark::State& state) {
    runBench(state, "lumetra", animation());
}
void BM_GiflibAnimation(benchmark::State& state) {
    runBench(state, "giflib", animation());
}
void BM_LumetraStillImage(benchmark::State& state) {
    runBench(state, "lumetra", stillImage());
}
void BM_GiflibStillImage(benchmark::State& state) {
    runBench(state, "giflib", stillImage());
}

void BM_SlotAnimation(benchmark::State& state) {
    runBench(state, "slot", animation());
}
void BM_SlotStillImage(benchmark::State& state) {
    runBench(state, "slot", stillImage());
}

BENCHMARK(BM_LumetraAnimation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GiflibAnimation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LumetraStillImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GiflibStillImage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlotAnimation)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SlotStillImage)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The child of peakMegabytes: one decode, nothing else.
    if (argc == 4 && strcmp(argv[1], "--peak-child") == 0) {
        const int frames = decoderNamed(argv[2])(argv[3]);
        removeSlotDirectory();
        printf("%ld\n", peakResidentKilobytes());
        return frames > 0 ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    removeSlotDirectory();
    return 0;
}
