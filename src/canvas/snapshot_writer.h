#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Lumetra {

// Turns frames read back from the GL into PNG files on a thread of its own, so that the
// render loop only pays for the read-back. One frame at a time: while a frame is being
// written the writer is busy and takes no other.
class SnapshotWriter {
  public:
    explicit SnapshotWriter(std::string path);
    ~SnapshotWriter();  // waits for the frame being written

    SnapshotWriter(const SnapshotWriter&) = delete;
    SnapshotWriter& operator=(const SnapshotWriter&) = delete;

    bool busy() const { return working.load(); }
    // Room for one RGBA frame, bottom row first as glReadPixels gives it. Only while the
    // writer is not busy.
    uint8_t* frameBuffer(uint32_t width, uint32_t height);
    // Hands the filled frame buffer over; the writer is busy until the file is done.
    void submit();

    // Files written and writes that failed so far.
    unsigned written() const { return done.load(); }
    unsigned failed() const { return failures.load(); }

    // Replaces `target` by `bytes` so that the old file stays until the new one is
    // complete on disk. False with the reason in `error` when it could not.
    static bool replaceFile(const std::string& target, const std::vector<uint8_t>& bytes,
                            std::string* error);

  private:
    void run();
    void writeFrame();

    const std::string path;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;
    std::atomic<bool> working{false};
    std::atomic<unsigned> done{0};
    std::atomic<unsigned> failures{0};
    std::mutex mutex;
    std::condition_variable wake;
    bool pending = false;
    bool stopping = false;
    std::thread thread;
};

}  // namespace Lumetra
