#include "canvas/canvas_content/content_local_file_texture/slot_reloader.h"

#include <algorithm>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/picture_budget.h"
#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"

namespace Lumetra {

namespace {

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a decoded picture will keep once it is a slot's texture.
uint64_t keepsBytes(const DecodedPicture& picture) {
    const uint64_t frame = rgbaBytes(picture.size_x, picture.size_y);
    if (picture.png_buffer != nullptr) {
        return frame;
    }
    if (picture.gif_buffer != nullptr) {
        return frame * static_cast<uint64_t>(picture.gif_info.numberOfImages);
    }
    if (picture.texture_type == TEX_VIDEO && picture.video_size_known) {
        return frame;
    }
    return 4;  // the 1x1 error texture
}

}  // namespace

SlotReloader::SlotReloader(const std::string& d, const PictureLimits& l)
    : dir(d), limits(l), watcher(d) {}

SlotReloader::~SlotReloader() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    stop_requested.store(true);
    budget_freed.notify_all();
    watcher.stop();
    if (thread.joinable()) {
        thread.join();
    }
}

void SlotReloader::start(const SlotFiles& loaded, const std::vector<uint64_t>& kept_bytes) {
    shown.assign(SlotFiles::kSlots, std::string());
    kept.assign(SlotFiles::kSlots, 0);
    for (int i = 0; i < SlotFiles::kSlots; ++i) {
        shown[i] = loaded.slot(i).path;
        kept[i] = i < static_cast<int>(kept_bytes.size()) ? kept_bytes[i] : 0;
    }
    thread = std::thread(&SlotReloader::run, this);
}

std::deque<SlotReloader::Reload> SlotReloader::take() {
    std::deque<Reload> taken;
    std::lock_guard<std::mutex> guard(lock);
    taken.swap(ready);
    has_ready.store(false, std::memory_order_release);
    return taken;
}

void SlotReloader::uploaded(uint64_t bytes) {
    if (bytes == 0) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock);
        in_flight -= std::min(bytes, in_flight);
    }
    budget_freed.notify_all();
}

void SlotReloader::hand(Reload reload) {
    std::lock_guard<std::mutex> guard(lock);
    ready.push_back(std::move(reload));
    has_ready.store(true, std::memory_order_release);
}

void SlotReloader::run() {
    TextureWatcher::Changes changes;
    while (watcher.wait(&changes)) {
        const SlotFiles files = SlotFiles::scan(dir);
        std::vector<char> dirty(SlotFiles::kSlots, changes.everything ? 1 : 0);
        std::set<std::string> named;
        for (const std::string& name : changes.names) {
            SlotName parsed;
            if (parseSlotName(name, &parsed)) {
                dirty[parsed.slot] = 1;
                named.insert(name);
            }
        }
        for (int slot = 0; slot < SlotFiles::kSlots && !stop_requested.load(); ++slot) {
            const SlotFiles::Slot& now = files.slot(slot);
            if (!dirty[slot] || changes.writing.count(baseName(now.path)) > 0) {
                continue;  // a file still being written comes back when it is closed
            }
            if (now.path.empty() && shown[slot].empty()) {
                continue;  // nothing was there and nothing is
            }
            const bool replaced = changes.everything || named.count(baseName(now.path)) > 0;
            if (now.path != shown[slot] || replaced) {
                reloadSlot(slot, now, files.conflictNotices(slot));
                continue;
            }
            // Only a file passed over changed: say which one the slot keeps.
            Reload notices;
            for (size_t i = 0; i < now.passed_over.size(); ++i) {
                if (named.count(baseName(now.passed_over[i])) > 0) {
                    notices.notices.push_back(files.conflictNotices(slot)[i]);
                }
            }
            if (!notices.notices.empty()) {
                hand(std::move(notices));
            }
        }
        if (stop_requested.load()) {
            return;
        }
    }
}

void SlotReloader::reloadSlot(int slot, const SlotFiles::Slot& file,
                              std::vector<std::string> notices) {
    SlotDecoder decoder(file, limits);
    const uint64_t reserve = decoder.decodeBytes();
    {
        // Decoding waits until the pixels handed over before have been uploaded.
        std::unique_lock<std::mutex> guard(lock);
        budget_freed.wait(guard, [this, reserve] {
            return stopping || in_flight == 0 || in_flight + reserve <= limits.in_flight_bytes;
        });
        if (stopping) {
            return;
        }
        in_flight += reserve;
    }
    Reload reload;
    reload.slot = slot;
    reload.picture = decoder.decode();
    // The new picture replaces the slot's old one: it may take what the others leave.
    uint64_t others = 0;
    for (int i = 0; i < SlotFiles::kSlots; ++i) {
        others += i == slot ? 0 : kept[i];
    }
    PictureBudget budget(limits.total_bytes > others ? limits.total_bytes - others : 0);
    budget.fit(reload.picture);
    kept[slot] = keepsBytes(reload.picture);
    shown[slot] = file.path;
    reload.held_bytes = reload.picture.heldBytes();
    reload.notices = std::move(notices);
    {
        std::lock_guard<std::mutex> guard(lock);
        in_flight = in_flight - reserve + reload.held_bytes;
    }
    hand(std::move(reload));
}

}  // namespace Lumetra
