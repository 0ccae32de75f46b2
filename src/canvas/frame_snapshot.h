#pragma once

#include <cstdint>
#include <string>

namespace Lumetra {

// Remote preview: when LUMETRA_SNAPSHOT names a file, each SIGUSR1 makes the render loop
// write the next frame it draws there as an RGBA PNG, top row first. The file is written
// beside the target and renamed over it, so a reader never sees half a picture.
class FrameSnapshot {
  public:
    FrameSnapshot();
    ~FrameSnapshot();

    FrameSnapshot(const FrameSnapshot&) = delete;
    FrameSnapshot& operator=(const FrameSnapshot&) = delete;

    // Called after drawing, before the swap, with the GL context current.
    void captureIfRequested(uint32_t width, uint32_t height);

    // Reads the current frame of the bound framebuffer, top row first.
    static void readFrame(uint32_t width, uint32_t height, uint8_t* rgba);
    static bool writePng(const std::string& path, uint32_t width, uint32_t height,
                         const uint8_t* rgba);

  private:
    std::string path;
};

}  // namespace Lumetra
