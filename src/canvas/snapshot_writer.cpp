#include "canvas/snapshot_writer.h"

#include "atomic_file.h"
#include "log/log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <utility>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace Lumetra {

namespace {

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

void flipRows(std::vector<uint8_t>* rgba, uint32_t width, uint32_t height) {
    if (height < 2) {
        return;
    }
    const size_t row = static_cast<size_t>(width) * 4;
    std::vector<uint8_t> spare(row);
    for (uint32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
        uint8_t* a = rgba->data() + top * row;
        uint8_t* b = rgba->data() + bottom * row;
        std::memcpy(spare.data(), a, row);
        std::memmove(a, b, row);
        std::memcpy(b, spare.data(), row);
    }
}

}  // namespace

SnapshotWriter::SnapshotWriter(std::string target) : path(std::move(target)) {
    thread = std::thread(&SnapshotWriter::run, this);
}

SnapshotWriter::~SnapshotWriter() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
}

uint8_t* SnapshotWriter::frameBuffer(uint32_t w, uint32_t h) {
    width = w;
    height = h;
    pixels.resize(static_cast<size_t>(w) * h * 4);
    return pixels.data();
}

void SnapshotWriter::submit() {
    working.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex);
        pending = true;
    }
    wake.notify_one();
}

void SnapshotWriter::run() {
    // Encoding takes a core for a second at 1920x1080; the frames come first.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return pending || stopping; });
        if (pending) {
            pending = false;
            lock.unlock();
            writeFrame();
            working.store(false);
            lock.lock();
        } else {
            return;
        }
    }
}

void SnapshotWriter::writeFrame() {
    flipRows(&pixels, width, height);
    std::vector<uint8_t> png;
    std::string error = "cannot encode the picture";
    if (stbi_write_png_to_func(appendBytes, &png, static_cast<int>(width), static_cast<int>(height),
                               4, pixels.data(), static_cast<int>(width * 4)) != 0 &&
        replaceFile(path, png, &error)) {
        done.fetch_add(1);
        return;
    }
    failures.fetch_add(1);
    logLine(LogLevel::Error, "cannot write snapshot %s: %s", path.c_str(), error.c_str());
}

bool SnapshotWriter::replaceFile(const std::string& target, const std::vector<uint8_t>& bytes,
                                 std::string* error) {
    return replaceFileAtomically(target, bytes.data(), bytes.size(), error);
}

}  // namespace Lumetra
