#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

namespace Lumetra {

// Decodes the picture slots on worker threads while the render thread takes them, in slot
// order, for upload. Workers stay at most `window` slots ahead of the taker, so memory
// holds only a few decoded pictures at a time. With no workers, take() decodes itself.
class SlotLoader {
  public:
    SlotLoader(int slot_count, int workers);
    ~SlotLoader();

    SlotLoader(const SlotLoader&) = delete;
    SlotLoader& operator=(const SlotLoader&) = delete;

    // Waits for slot `slot` (taken in ascending order) and hands its decoded picture over.
    DecodedPicture take(int slot);

    // Worker count to use: LUMETRA_LOAD_THREADS when set (0 = decode on the render
    // thread), else one per core.
    static int defaultWorkers();

  private:
    void work();

    const int slot_count;
    const int window;
    std::mutex lock;
    std::condition_variable slot_ready;
    std::condition_variable window_moved;
    std::vector<DecodedPicture> results;
    std::vector<char> decoded;
    int next_slot = 0;
    int taken = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
};

}  // namespace Lumetra
