#include "canvas/canvas_content/content_local_file_texture/slot_loader.h"

#include <cstdlib>
#include <utility>

namespace Lumetra {

SlotLoader::SlotLoader(int count, int worker_count)
    : slot_count(count),
      window(2 * worker_count + 2),
      results(static_cast<size_t>(count)),
      decoded(static_cast<size_t>(count), 0) {
    for (int i = 0; i < worker_count; ++i) {
        workers.emplace_back(&SlotLoader::work, this);
    }
}

SlotLoader::~SlotLoader() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    window_moved.notify_all();
    for (std::thread& worker : workers) {
        worker.join();
    }
}

int SlotLoader::defaultWorkers() {
    const char* text = std::getenv("LUMETRA_LOAD_THREADS");
    if (text != nullptr && *text != '\0') {
        int n = std::atoi(text);
        return n < 0 ? 0 : (n > 64 ? 64 : n);
    }
    unsigned int cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

void SlotLoader::work() {
    for (;;) {
        int slot;
        {
            std::unique_lock<std::mutex> guard(lock);
            window_moved.wait(guard, [this] {
                return stopping || next_slot >= slot_count || next_slot < taken + window;
            });
            if (stopping || next_slot >= slot_count) {
                return;
            }
            slot = next_slot++;
        }
        DecodedPicture picture = decodeSlot(slot);
        {
            std::lock_guard<std::mutex> guard(lock);
            results[slot] = std::move(picture);
            decoded[slot] = 1;
        }
        slot_ready.notify_all();
    }
}

DecodedPicture SlotLoader::take(int slot) {
    if (workers.empty()) {
        return decodeSlot(slot);
    }
    DecodedPicture picture;
    {
        std::unique_lock<std::mutex> guard(lock);
        slot_ready.wait(guard, [this, slot] { return decoded[slot] != 0; });
        picture = std::move(results[slot]);
        taken = slot + 1;
    }
    window_moved.notify_all();
    return picture;
}

}  // namespace Lumetra
