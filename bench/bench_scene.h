#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace LumetraBench {

// A fresh scratch directory with an empty textures/, made the working directory: the
// renderer reads its pictures from there. The caller removes it.
inline std::string enterScratchDir() {
    char dir[] = "/tmp/lumetra-bench-XXXXXX";
    const std::string work = mkdtemp(dir);
    mkdir((work + "/textures").c_str(), 0755);
    if (chdir(work.c_str()) != 0) {
        std::abort();
    }
    return work;
}

// Renderers made from here on draw offscreen at `size` ("1280x720"), unpaced.
inline void drawOffscreenUnpaced(const char* size) {
    setenv("LUMETRA_DISPLAY", "headless", 1);
    setenv("LUMETRA_SCREEN", size, 1);
    setenv("LUMETRA_REFRESH", "0", 1);
}

}  // namespace LumetraBench
