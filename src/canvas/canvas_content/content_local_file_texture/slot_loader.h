#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/slot_files.h"

namespace Lumetra {

// Decodes the picture slots on worker threads while the render thread takes them, in slot
// order, for upload. Workers stay at most `window` slots ahead of the taker, and the
// pixels decoded but not yet uploaded stay within the limits' in-flight budget: a worker
// learns what its picture needs before decoding and waits until that much is free. The
// budget is granted in slot order, so the slot the taker waits for is never starved.
// With no workers, take() decodes itself.
class SlotLoader {
  public:
    // Reads ./textures/ once for the slots' files, or takes `files` already read.
    SlotLoader(int slot_count, int workers, const PictureLimits& limits);
    SlotLoader(int slot_count, int workers, const PictureLimits& limits, SlotFiles files);
    ~SlotLoader();

    SlotLoader(const SlotLoader&) = delete;
    SlotLoader& operator=(const SlotLoader&) = delete;

    // Waits for slot `slot` (taken in ascending order) and hands its decoded picture over.
    DecodedPicture take(int slot);
    // The picture of `slot` has been uploaded: its pixels are gone, its budget is free.
    void uploaded(int slot);
    // Most bytes decoded but not yet uploaded at any one time so far.
    uint64_t peakInFlight();

    // Worker count to use: LUMETRA_LOAD_THREADS when set (0 = decode on the render
    // thread), else one per core.
    static int defaultWorkers();

  private:
    void work();
    // Waits for the turn of `slot` and for `bytes` of budget; false when stopping.
    bool reserve(int slot, uint64_t bytes);

    const int slot_count;
    const int window;
    const PictureLimits limits;
    const SlotFiles files;
    std::mutex lock;
    std::condition_variable slot_ready;
    std::condition_variable window_moved;
    std::vector<DecodedPicture> results;
    std::vector<char> decoded;
    std::vector<uint64_t> reserved;
    int reserve_turn = 0;
    uint64_t in_flight = 0;
    uint64_t peak_in_flight = 0;
    std::condition_variable budget_freed;
    int next_slot = 0;
    int taken = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
};

}  // namespace Lumetra
