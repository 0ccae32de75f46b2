#include "video/clip_maker.h"

#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace VideoTest {

bool makeColourClip(const std::string& path, const std::vector<Colour>& colours, int width,
                    int height, int fps, double seconds_each, const std::string& encoding,
                    double alpha) {
    std::ostringstream command;
    command << "ffmpeg -v error -y";
    for (const Colour& c : colours) {
        command << " -f lavfi -i color=c=" << c.name << ":s=" << width << "x" << height
                << ":r=" << fps << ":d=" << seconds_each;
    }
    command << " -filter_complex \"";
    for (size_t i = 0; i < colours.size(); i++) {
        command << "[" << i << "]";
    }
    command << "concat=n=" << colours.size() << ":v=1:a=0,drawbox=x=0:y=0:w=" << width
            << ":h=" << height / 4 << ":color=white:t=fill";
    if (alpha < 1.0) {
        command << ",format=rgba,colorchannelmixer=aa=" << alpha;
    }
    command << "\" -g " << fps << " "
            << (encoding.empty() ? "-c:v libx264 -pix_fmt yuv420p -f h264" : encoding) << " "
            << path;
    return LumetraTest::runCommand(command.str()) == 0;
}

size_t fileSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    return in ? static_cast<size_t>(in.tellg()) : 0;
}

bool padToMultiple(const std::string& path, size_t block) {
    size_t size = fileSize(path);
    size_t padding = (block - size % block) % block;
    if (padding == 0) {
        return true;
    }
    if (padding < 6) {
        padding += block;  // a filler unit needs six bytes at least
    }
    std::ofstream out(path, std::ios::binary | std::ios::app);
    const char start[] = {0, 0, 0, 1, 0x0C};
    out.write(start, sizeof(start));
    out << std::string(padding - 6, '\xFF') << '\x80';
    out.close();
    return !out.fail() && fileSize(path) % block == 0;
}

}  // namespace VideoTest
