// lumetra-gifdump FILE [RAW]: runs Lumetra's GIF decoder on FILE and prints how it will
// play, "OK frames=N w=W h=H loop=L count=C delays=D0,D1,..." or "FAIL" (exit status 1).
// With RAW it also writes every frame's RGBA bytes, frame after frame, to that file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

namespace {

bool writeFrames(const char* path, unsigned char** frames, int count, size_t frameBytes) {
    FILE* out = fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    bool ok = true;
    for (int i = 0; i < count && ok; ++i) {
        ok = fwrite(frames[i], 1, frameBytes, out) == frameBytes;
    }
    return fclose(out) == 0 && ok;
}

void freeResult(unsigned char** frames, const Lumetra::GifAnimationInfo& info) {
    for (int i = 0; i < info.numberOfImages; ++i) {
        free(frames[i]);
    }
    free(frames);
    free(info.delayArray);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: lumetra-gifdump FILE [RAW]\n");
        return 2;
    }
    int width = 0;
    int height = 0;
    Lumetra::GifAnimationInfo info = {};
    Lumetra::GIFLoader loader;
    unsigned char** frames = loader.loadAnimatedGif(argv[1], &width, &height, &info);
    if (frames == nullptr) {
        printf("FAIL\n");
        return 1;
    }
    std::string delays;
    for (int i = 0; i < info.numberOfImages; ++i) {
        delays += (i > 0 ? "," : "") + std::to_string(info.delayArray[i]);
    }
    bool ok = true;
    if (argc == 3) {
        const size_t frameBytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
        ok = writeFrames(argv[2], frames, info.numberOfImages, frameBytes);
    }
    if (ok) {
        printf("OK frames=%d w=%d h=%d loop=%d count=%d delays=%s\n", info.numberOfImages, width,
               height, info.isLoopImage, info.loopCount, delays.c_str());
    } else {
        fprintf(stderr, "lumetra-gifdump: cannot write %s\n", argv[2]);
        printf("FAIL\n");
    }
    freeResult(frames, info);
    return ok ? 0 : 1;
}
