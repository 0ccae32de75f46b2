#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/slot_files.h"
#include "canvas/canvas_content/content_local_file_texture/texture_watcher.h"

namespace Lumetra {

// Keeps the slots in step with the picture directory while the show runs. A thread of its
// own waits for the watcher, reads the directory, decodes each changed slot's file within
// the memory budgets (the pixels handed over and not yet uploaded stay within the limits'
// in-flight bytes; all slots together within the total) and queues the result. The render
// thread takes the queue at frame boundaries; it never waits for the disk or a decode.
class SlotReloader {
  public:
    struct Reload {
        int slot = -1;  // -1: only notices
        DecodedPicture picture;
        uint64_t held_bytes = 0;  // to hand back through uploaded() once uploaded or dropped
        std::vector<std::string> notices;
    };

    // Watches `dir` from now on; changes are reloaded once start() has been called.
    SlotReloader(const std::string& dir, const PictureLimits& limits);
    ~SlotReloader();

    SlotReloader(const SlotReloader&) = delete;
    SlotReloader& operator=(const SlotReloader&) = delete;

    // The files the slots were loaded from and the bytes each keeps.
    void start(const SlotFiles& loaded, const std::vector<uint64_t>& kept_bytes);

    // Render thread: whether take() has anything; costs one atomic load.
    bool hasReady() const { return has_ready.load(std::memory_order_acquire); }
    // Render thread: what was decoded since the last call, oldest first.
    std::deque<Reload> take();
    // Render thread: pixels handed over have been uploaded or dropped.
    void uploaded(uint64_t bytes);

  private:
    void run();
    void reloadSlot(int slot, const SlotFiles::Slot& file, std::vector<std::string> notices);
    void hand(Reload reload);

    const std::string dir;
    const PictureLimits limits;
    TextureWatcher watcher;
    // Reloader thread only, after start().
    std::vector<std::string> shown;
    std::vector<uint64_t> kept;

    std::mutex lock;
    std::condition_variable budget_freed;
    std::deque<Reload> ready;
    std::atomic<bool> has_ready{false};
    uint64_t in_flight = 0;
    bool stopping = false;
    std::atomic<bool> stop_requested{false};  // stopping, seen without the lock
    std::thread thread;
};

}  // namespace Lumetra
