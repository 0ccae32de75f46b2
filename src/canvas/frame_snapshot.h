#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Lumetra {

class SnapshotWriter;

// Someone besides the SIGUSR1 snapshot who takes frames now and then (the web page's
// preview). Called on the render thread after drawing: frameWanted gives room for one
// RGBA frame (bottom row first) or null when no frame is wanted now; frameFilled hands it
// back. Both must return at once.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual uint8_t* frameWanted(uint32_t width, uint32_t height) = 0;
    virtual void frameFilled() = 0;
};

// Remote preview: when LUMETRA_SNAPSHOT names a file, each SIGUSR1 makes the render loop
// read back the next frame it draws; a writer thread stores it there as an RGBA PNG, top
// row first. Requests that arrive while a frame is being written are merged into one
// snapshot of a later frame. Only a complete file replaces the last one.
class FrameSnapshot {
  public:
    FrameSnapshot();
    ~FrameSnapshot();

    FrameSnapshot(const FrameSnapshot&) = delete;
    FrameSnapshot& operator=(const FrameSnapshot&) = delete;

    // Takes SIGUSR1 as a request when LUMETRA_SNAPSHOT names a file (true then). Called
    // first thing at start, so that a request before the display is up is kept for the
    // first frame instead of killing the process.
    static bool listen();
    // A request not yet taken by a frame.
    static bool pending();

    // The sink frames go to besides the file; null for none. It must outlive every frame
    // drawn while it is set.
    static void setSink(FrameSink* sink);

    // Called after drawing, before the swap, with the GL context current.
    void captureIfRequested(uint32_t width, uint32_t height);
    // The writer, while LUMETRA_SNAPSHOT is set; else null.
    const SnapshotWriter* writer() const { return file_writer.get(); }

    // Reads the current frame of the bound framebuffer, top row first.
    static void readFrame(uint32_t width, uint32_t height, uint8_t* rgba);

  private:
    std::string path;
    std::unique_ptr<SnapshotWriter> file_writer;
};

}  // namespace Lumetra
