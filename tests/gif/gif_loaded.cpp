#include "gif/gif_loaded.h"

#include <cstdlib>

#include "canvas/canvas_content/content_local_file_texture/GIFLoader.h"

namespace LumetraTest {

LoadedGif loadGif(const std::string& path) {
    LoadedGif out;
    Lumetra::GIFLoader loader;
    Lumetra::GifAnimationInfo info = {};
    unsigned char** frames = loader.loadAnimatedGif(path.c_str(), &out.width, &out.height, &info);
    if (frames == nullptr) {
        return out;
    }
    out.ok = true;
    out.isLoopImage = info.isLoopImage;
    out.loopCount = info.loopCount;
    const size_t frameBytes = static_cast<size_t>(out.width) * out.height * 4;
    for (int i = 0; i < info.numberOfImages; ++i) {
        out.delays.push_back(info.delayArray[i]);
        out.frames.emplace_back(frames[i], frames[i] + frameBytes);
        free(frames[i]);
    }
    free(frames);
    free(info.delayArray);
    return out;
}

}  // namespace LumetraTest
