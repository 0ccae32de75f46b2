// Picture files as people name them (NNN.ext, NNN_name.ext; stills in several formats) and
// pictures that change while the renderer runs, drawn offscreen through the real renderer.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas.h"
#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_content/content_local_file_texture/slot_files.h"
#include "canvas/renderer.h"
#include "support/test_support.h"

namespace {

using Clock = std::chrono::steady_clock;
using LumetraTest::Frame;
using LumetraTest::near;
using LumetraTest::solidRgba;
using LumetraTest::writeStill;

const int kSize = 100;

class PictureFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LumetraTest::useOffscreenDisplay(kSize, kSize);
        Lumetra::setLoadNoticeReporter([this](const std::string& line) { notices += line + "\n"; });
    }
    void TearDown() override {
        renderer.reset();
        Lumetra::setLoadNoticeReporter(nullptr);
        Lumetra::setPictureReload(true);
    }

    void start() { renderer = std::make_unique<Lumetra::Renderer>(); }

    // The centre of the next frame with one canvas showing `slot`.
    Frame::Pixel centre(int slot) {
        Lumetra::Canvas canvas("CONTENT_TEXTURE_256");
        canvas.setContentData(slot);
        renderer->drawCanvases({&canvas});
        return LumetraTest::readFrame(kSize, kSize).at(50, 50);
    }

    // Draws frames showing `slot` until its centre is near (r, g, b); the seconds it took,
    // or -1. Every frame on the way must show `before` or the new colour, never a gap.
    double waitFor(int slot, int r, int g, int b, const Frame::Pixel& before, double limit = 5) {
        const Clock::time_point begin = Clock::now();
        double seconds = 0;
        while ((seconds = std::chrono::duration<double>(Clock::now() - begin).count()) < limit) {
            const Frame::Pixel p = centre(slot);
            if (near(p, r, g, b, 8)) {
                return seconds;
            }
            if (!near(p, before.r, before.g, before.b, 8)) {
                ADD_FAILURE() << "frame between pictures shows " << p.r << "," << p.g << "," << p.b;
                return -1;
            }
            usleep(5000);
        }
        return -1;
    }

    LumetraTest::TempWorkDir work;
    std::unique_ptr<Lumetra::Renderer> renderer;
    std::string notices;
};

TEST_F(PictureFilesTest, NamesExactBeforePrefixedThenByKindThenByName) {
    struct {
        const char* name;
        int slot;  // -1: no slot's
        bool exact;
    } names[] = {{"007.png", 7, true},      {"007_sun.JPG", 7, false}, {"255_.gif", 255, false},
                 {"000.mkv", 0, true},      {"256.png", -1, false},    {"07.png", -1, false},
                 {"007..png", -1, false},   {"007-a.png", -1, false},  {"007.png.part", -1, false},
                 {"007_a.b.tga", 7, false}, {"007.txt", -1, false},    {".007.png", -1, false}};
    for (const auto& n : names) {
        Lumetra::SlotName parsed;
        const bool ok = Lumetra::parseSlotName(n.name, &parsed);
        EXPECT_EQ(ok ? parsed.slot : -1, n.slot) << n.name;
        EXPECT_EQ(ok && parsed.exact, n.exact) << n.name;
    }

    for (const char* f : {"003_b.png", "003.gif", "003_a.png", "003.h264", "004_z.png",
                          "004_a.webm", "005.JPG", "005.jpg", "006.png", "009.png"}) {
        LumetraTest::writeFile(std::string("textures/") + f, "x");
    }
    ASSERT_EQ(mkfifo("textures/006.bmp", 0644), 0);             // not a regular file
    ASSERT_EQ(mkdir("textures/008.png", 0755), 0);              // neither
    ASSERT_EQ(symlink("009.png", "textures/010_link.png"), 0);  // a link to one counts
    const Lumetra::SlotFiles files = Lumetra::SlotFiles::scan("./textures");
    EXPECT_EQ(files.slot(3).path, "./textures/003.gif");
    EXPECT_EQ(files.slot(3).passed_over,
              (std::vector<std::string>{"./textures/003.h264", "./textures/003_a.png",
                                        "./textures/003_b.png"}));
    EXPECT_EQ(files.slot(4).path, "./textures/004_z.png");  // png before webm
    EXPECT_EQ(files.slot(5).path, "./textures/005.JPG");    // byte order: upper case first
    EXPECT_EQ(files.slot(6).path, "./textures/006.png");
    EXPECT_TRUE(files.slot(6).passed_over.empty());
    EXPECT_EQ(files.slot(8).path, "");
    EXPECT_EQ(files.slot(10).path, "./textures/010_link.png");
    EXPECT_EQ(files.slot(4).type, Lumetra::TEX_PNG);
    EXPECT_EQ(files.slot(3).type, Lumetra::TEX_GIF);
    EXPECT_EQ(files.conflictNotices(4),
              std::vector<std::string>{
                  "./textures/004_a.webm: not used: slot 4 shows ./textures/004_z.png"});
}

TEST_F(PictureFilesTest, StillsOfEveryFormatAndNamedFilesShowOnCanvases) {
    writeStill("textures/001.jpg", 8, 8, solidRgba(8, 8, 255, 0, 0));
    writeStill("textures/002_sunset.jpeg", 8, 8, solidRgba(8, 8, 0, 255, 0));
    writeStill("textures/003.bmp", 8, 8, solidRgba(8, 8, 0, 0, 255));
    writeStill("textures/004_logo.tga", 8, 8, solidRgba(8, 8, 255, 255, 0));
    writeStill("textures/005_b.png", 8, 8, solidRgba(8, 8, 255, 0, 255));
    writeStill("textures/005.jpg", 8, 8, solidRgba(8, 8, 0, 255, 255));
    start();
    EXPECT_TRUE(near(centre(1), 255, 0, 0, 8));
    EXPECT_TRUE(near(centre(2), 0, 255, 0, 8));
    EXPECT_TRUE(near(centre(3), 0, 0, 255, 8));
    EXPECT_TRUE(near(centre(4), 255, 255, 0, 8));
    EXPECT_TRUE(near(centre(5), 0, 255, 255, 8)) << "the exact name wins";
    EXPECT_EQ(notices, "./textures/005_b.png: not used: slot 5 shows ./textures/005.jpg\n");
}

TEST_F(PictureFilesTest, ForgedJpegSizeIsRefusedBeforeDecoding) {
    writeStill("textures/001.jpg", 16, 16, solidRgba(16, 16, 255, 255, 255));
    std::string jpeg = LumetraTest::readFile("textures/001.jpg");
    const size_t sof = jpeg.find("\xff\xc0", 0, 2);
    ASSERT_NE(sof, std::string::npos);
    jpeg[sof + 5] = jpeg[sof + 7] = '\xfe';  // 65040 x 65040 in a few hundred bytes
    LumetraTest::writeFile("textures/001.jpg", jpeg);
    start();
    EXPECT_TRUE(near(centre(1), 0, 0, 0));
    EXPECT_NE(notices.find("./textures/001.jpg: not shown: it claims 65040x65040 pixels"),
              std::string::npos)
        << notices;
}

TEST_F(PictureFilesTest, ChangedFilesReplaceTheirSlotWithoutAGap) {
    writeStill("textures/001.png", 4, 4, solidRgba(4, 4, 255, 0, 0));
    start();
    const Frame::Pixel red = centre(1);
    ASSERT_TRUE(near(red, 255, 0, 0));

    // Replaced by a large picture: uploaded over several frames, the old one meanwhile.
    writeStill("textures/001.png", 1600, 1000, solidRgba(1600, 1000, 0, 0, 255));
    EXPECT_GE(waitFor(1, 0, 0, 255, red), 0);

    // Half written: the old picture stays until the file is closed.
    const std::vector<uint8_t> green = solidRgba(64, 64, 0, 255, 0);
    writeStill("textures/green.png", 64, 64, green);
    const std::string bytes = LumetraTest::readFile("textures/green.png");
    const int fd = open("textures/001.png", O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size() / 2), static_cast<ssize_t>(bytes.size() / 2));
    EXPECT_EQ(waitFor(1, 0, 255, 0, centre(1), 0.8), -1);
    EXPECT_TRUE(near(centre(1), 0, 0, 255, 8)) << "the half-written file was shown";
    const size_t rest = bytes.size() - bytes.size() / 2;
    ASSERT_EQ(write(fd, bytes.data() + bytes.size() / 2, rest), static_cast<ssize_t>(rest));
    close(fd);
    EXPECT_GE(waitFor(1, 0, 255, 0, centre(1)), 0);

    // A GIF renamed into place in an empty slot; a deleted file shows nothing.
    ASSERT_EQ(
        LumetraTest::runCommand("convert -delay 10 -size 4x4 xc:red xc:blue gif:textures/t && "
                                "mv textures/t textures/002_anim.gif"),
        0);
    const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end && near(centre(2), 0, 0, 0)) {
        usleep(5000);
    }
    const Frame::Pixel gif = centre(2);
    EXPECT_TRUE(near(gif, 255, 0, 0, 8) || near(gif, 0, 0, 255, 8));
    ASSERT_EQ(unlink("textures/001.png"), 0);
    EXPECT_GE(waitFor(1, 0, 0, 0, centre(1)), 0);
}

TEST_F(PictureFilesTest, FileChangedWhileTheSlotsLoadIsNotLost) {
    writeStill("textures/000.png", 4, 4, solidRgba(4, 4, 255, 0, 0));
    // Slot 0 is loaded (red) by the time the first progress is reported; it changes then.
    Lumetra::setLoadProgressReporter([](int done, int) {
        if (done == 1) {
            writeStill("textures/000.png", 4, 4, solidRgba(4, 4, 0, 255, 0));
        }
    });
    start();
    Lumetra::setLoadProgressReporter(nullptr);
    EXPECT_GE(waitFor(0, 0, 255, 0, centre(0)), 0);
}

TEST_F(PictureFilesTest, DirectoryReplacedIsWatchedAgainAndReloadOffKeepsTheStart) {
    writeStill("textures/001.png", 4, 4, solidRgba(4, 4, 255, 0, 0));
    start();
    ASSERT_EQ(std::rename("textures", "old"), 0);
    EXPECT_GE(waitFor(1, 0, 0, 0, centre(1)), 0);
    ASSERT_EQ(mkdir("new", 0755), 0);
    writeStill("new/001_back.png", 4, 4, solidRgba(4, 4, 0, 255, 0));
    ASSERT_EQ(std::rename("new", "textures"), 0);
    EXPECT_GE(waitFor(1, 0, 255, 0, centre(1)), 0);
    renderer.reset();

    Lumetra::setPictureReload(false);
    start();
    writeStill("textures/001.png", 4, 4, solidRgba(4, 4, 0, 0, 255));
    EXPECT_EQ(waitFor(1, 0, 0, 255, centre(1), 1.5), -1);
}

}  // namespace
