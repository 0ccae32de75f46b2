#include "canvas/canvas_content/content_local_file_texture/slot_loader.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"

namespace Lumetra {

SlotLoader::SlotLoader(int count, int worker_count, const PictureLimits& l)
    : SlotLoader(count, worker_count, l, SlotFiles::scan(kTextureDir)) {}

SlotLoader::SlotLoader(int count, int worker_count, const PictureLimits& l, SlotFiles f)
    : slot_count(count),
      window(2 * worker_count + 2),
      limits(l),
      files(std::move(f)),
      results(static_cast<size_t>(count)),
      decoded(static_cast<size_t>(count), 0),
      reserved(static_cast<size_t>(count), 0) {
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
    budget_freed.notify_all();
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
        SlotDecoder decoder(files.slot(slot), limits);
        if (!reserve(slot, decoder.decodeBytes())) {
            return;
        }
        DecodedPicture picture = decoder.decode();
        {
            std::lock_guard<std::mutex> guard(lock);
            // What a failed or reduced picture no longer holds is free for the others.
            const uint64_t held = std::min(reserved[slot], picture.heldBytes());
            in_flight -= reserved[slot] - held;
            reserved[slot] = held;
            results[slot] = std::move(picture);
            decoded[slot] = 1;
        }
        slot_ready.notify_all();
        budget_freed.notify_all();
    }
}

bool SlotLoader::reserve(int slot, uint64_t bytes) {
    std::unique_lock<std::mutex> guard(lock);
    // Earlier slots hold their budget until uploaded, and the taker uploads in slot
    // order, so waiting here never waits for a later slot. A picture larger than the
    // whole budget never gets this far.
    budget_freed.wait(guard, [this, slot, bytes] {
        return stopping || (reserve_turn == slot &&
                            (in_flight == 0 || in_flight + bytes <= limits.in_flight_bytes));
    });
    if (stopping) {
        return false;
    }
    reserve_turn = slot + 1;
    reserved[slot] = bytes;
    in_flight += bytes;
    peak_in_flight = std::max(peak_in_flight, in_flight);
    guard.unlock();
    budget_freed.notify_all();
    return true;
}

void SlotLoader::uploaded(int slot) {
    {
        std::lock_guard<std::mutex> guard(lock);
        in_flight -= reserved[slot];
        reserved[slot] = 0;
    }
    budget_freed.notify_all();
}

uint64_t SlotLoader::peakInFlight() {
    std::lock_guard<std::mutex> guard(lock);
    return peak_in_flight;
}

DecodedPicture SlotLoader::take(int slot) {
    if (workers.empty()) {
        return SlotDecoder(files.slot(slot), limits).decode();
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
