// Snapshots on request: written by a thread of their own while the render loop goes on,
// requests during a write merged, and only complete files replacing the last one.

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stb/stb_image.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/frame_snapshot.h"
#include "canvas/renderer.h"
#include "canvas/snapshot_writer.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> noise(size_t bytes, unsigned seed) {
    std::vector<uint8_t> out(bytes);
    std::mt19937 random(seed);
    for (auto& b : out) {
        b = static_cast<uint8_t>(random());
    }
    return out;
}

bool decodes(const std::string& path, int width, int height) {
    int w = 0, h = 0, n = 0;
    unsigned char* px = stbi_load(path.c_str(), &w, &h, &n, 4);
    stbi_image_free(px);
    return px != nullptr && w == width && h == height;
}

template <typename Done>
bool waitFor(Done done, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TEST(Snapshot, RequestsDuringAWriteAreMergedWhileFramesGoOn) {
    LumetraTest::TempWorkDir work;
    LumetraTest::writePng(work.file("textures/000.png"), 256, 256, noise(256 * 256 * 4, 1));
    LumetraTest::useOffscreenDisplay(960, 540);
    const std::string target = work.file("snap.png");
    setenv("LUMETRA_SNAPSHOT", target.c_str(), 1);
    Lumetra::Renderer renderer;
    unsetenv("LUMETRA_SNAPSHOT");
    Lumetra::Canvas canvas("CONTENT_TEXTURE_256");  // the noise over the whole screen
    canvas.setScalingX(10.0f);
    canvas.setScalingY(6.0f);
    const std::vector<Lumetra::Canvas*> list = {&canvas};
    const Lumetra::SnapshotWriter* writer = renderer.getSnapshot()->writer();
    ASSERT_NE(writer, nullptr);

    raise(SIGUSR1);
    renderer.drawCanvases(list);
    int frames_during_write = 0;
    for (; writer->written() + writer->failed() == 0; ++frames_during_write) {
        raise(SIGUSR1);
        raise(SIGUSR1);
        renderer.drawCanvases(list);
    }
    EXPECT_GT(frames_during_write, 0) << "the loop waited for the PNG";
    EXPECT_TRUE(decodes(target, 960, 540));

    // All requests made during the write become one snapshot of a later frame.
    ASSERT_TRUE(waitFor(
        [&] {
            renderer.drawCanvases(list);
            return writer->written() + writer->failed() >= 2 && !writer->busy();
        },
        120.0));
    for (int i = 0; i < 5; ++i) {
        renderer.drawCanvases(list);
    }
    EXPECT_TRUE(waitFor([&] { return !writer->busy(); }, 120.0));
    EXPECT_EQ(writer->written(), 2u);
    EXPECT_EQ(writer->failed(), 0u);
    EXPECT_TRUE(decodes(target, 960, 540));
}

// A file system of its own, in a mount namespace of this test process only.
class SmallDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
            GTEST_SKIP() << "needs root for a private mount";
        }
        ASSERT_EQ(mount("tmpfs", work.path().c_str(), "tmpfs", 0, "size=120k"), 0);
    }
    void TearDown() override { umount2(work.path().c_str(), MNT_DETACH); }

    // Fills what is left of the disk.
    void fill() {
        std::ofstream filler(work.file("filler"), std::ios::binary);
        const std::vector<char> block(4096, 'x');
        while (filler.write(block.data(), block.size())) {
            filler.flush();
        }
    }

    LumetraTest::TempWorkDir work;
};

TEST_F(SmallDisk, FullDiskKeepsTheLastGoodSnapshotAndSaysSoOnce) {
    const std::string target = work.file("snap.png");
    Lumetra::SnapshotWriter writer(target);
    auto snapshot = [&](uint32_t side, unsigned seed) {
        std::vector<uint8_t> frame = noise(side * side * 4, seed);
        std::copy(frame.begin(), frame.end(), writer.frameBuffer(side, side));
        writer.submit();
        return waitFor([&] { return !writer.busy(); }, 30.0);
    };
    ASSERT_TRUE(snapshot(32, 1));
    ASSERT_EQ(writer.written(), 1u);
    const std::string good = LumetraTest::readFile(target);
    ASSERT_GT(good.size(), 4000u);

    fill();
    testing::internal::CaptureStderr();
    ASSERT_TRUE(snapshot(64, 2));  // 16 KB of noise: no room
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(writer.failed(), 1u);
    EXPECT_EQ(LumetraTest::readFile(target), good) << "the old snapshot is kept";
    EXPECT_EQ(said, "lumetra: cannot write snapshot " + target + ": No space left on device\n");
    EXPECT_EQ(LumetraTest::commandOutput("ls '" + work.path() + "'"), "filler\nsnap.png\n")
        << "no half-written file is left";

    std::remove(work.file("filler").c_str());  // room again: the next one is written
    ASSERT_TRUE(snapshot(64, 3));
    EXPECT_EQ(writer.written(), 2u);
    EXPECT_TRUE(decodes(target, 64, 64));
}

}  // namespace
