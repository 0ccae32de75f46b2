// The web page's API over real HTTP against the real program: reading, the picture
// library, settings with restart, identify, and what it refuses.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_test_support.h"
#include "dmx_input/sacn_test_support.h"
#include "support/http_client.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"

namespace {

using LumetraTest::HttpReply;
using LumetraTest::httpRequest;

const int kWidth = 320;
const int kHeight = 180;

// One fixture with the web page on a free port and a password.
struct WebFixture {
    explicit WebFixture(const std::string& config_extra = "WEB_PASSWORD=show-secret\n") {
        port = LumetraTest::freeTcpPort();
        LumetraTest::writeFile(
            work.file("config.txt"),
            "# rig A\nDMX_START=1\nWEB_PORT=" + std::to_string(port) + "\n" + config_extra);
        LumetraTest::writePng(work.file("textures/001.png"), 8, 8,
                              LumetraTest::solidRgba(8, 8, 255, 0, 0));
        program = std::make_unique<LumetraTest::SnapshotProgram>(work.path(), kWidth, kHeight, 30);
        up = LumetraTest::waitForHttp(port, "/api/status", 30);
    }
    // A clean end: no sanitizer report, no leak, status 0.
    ~WebFixture() {
        program->stop();
        EXPECT_EQ(program->exitStatus(), 0) << LumetraTest::readFile(work.file("program.log"));
    }
    HttpReply get(const std::string& path) { return httpRequest(port, "GET", path); }
    // A change with the password and the page's header.
    HttpReply change(const std::string& method, const std::string& path,
                     const std::string& body = "") {
        return httpRequest(
            port, method, path, body,
            {LumetraTest::basicAuth("lumetra", "show-secret"), "X-Lumetra-Request: 1"});
    }
    // The preview's centre pixel as 0xRRGGBB, waiting up to `seconds` for `expected`.
    long previewCentre(long expected, double seconds) {
        long centre = -1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        do {
            const HttpReply reply = get("/api/preview");
            int w = 0, h = 0;
            const std::vector<uint8_t> rgba = LumetraTest::decodePng(reply.body, &w, &h);
            if (!rgba.empty()) {
                const uint8_t* p = &rgba[(static_cast<size_t>(h / 2) * w + w / 2) * 4];
                centre = (p[0] << 16) | (p[1] << 8) | p[2];
            }
            if (centre == expected) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        } while (std::chrono::steady_clock::now() < end);
        return centre;
    }
    std::vector<std::string> textureFiles() {
        std::vector<std::string> names;
        DIR* dir = opendir(work.file("textures").c_str());
        while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
            if (entry->d_name[0] != '.') {
                names.push_back(entry->d_name);
            }
        }
        if (dir != nullptr) {
            closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    LumetraTest::TempWorkDir work;
    int port = 0;
    std::unique_ptr<LumetraTest::SnapshotProgram> program;
    bool up = false;
};

// Picture `slot` at the centre, white, a fifth of the screen wide, no spin.
void showPicture(int slot, uint8_t extra_channel_value = 0) {
    std::vector<uint8_t> channels = LumetraTest::centredPicture(slot, 51);
    channels[19] = extra_channel_value;
    LumetraTest::sendArtDmx(0, 1, channels);
}

std::string pngBytes(uint8_t r, uint8_t g, uint8_t b) {
    const std::string path = "/tmp/lumetra-web-" + std::to_string(getpid()) + ".png";
    LumetraTest::writePng(path, 16, 16, LumetraTest::solidRgba(16, 16, r, g, b));
    std::string bytes = LumetraTest::readFile(path);
    unlink(path.c_str());
    return bytes;
}

long residentKb(pid_t pid) {
    const std::string status = LumetraTest::readFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

TEST(WebApi, ReadsStatusDmxSlotsConfigEventsAndThePreviewOfWhatArtNetShows) {
    WebFixture fixture;
    ASSERT_TRUE(fixture.up);
    showPicture(1, 77);

    const HttpReply status = fixture.get("/api/status");
    EXPECT_EQ(status.header("Content-Type"), "application/json");
    EXPECT_NE(status.body.find("\"dmx_start\":1,"), std::string::npos) << status.body;
    EXPECT_NE(status.body.find("\"read_only\":false"), std::string::npos);
    EXPECT_EQ(fixture.previewCentre(0xff0000, 5), 0xff0000);

    // The DMX frame as sent, and the sender among the sources.
    const HttpReply dmx = fixture.get("/api/dmx");
    EXPECT_NE(
        dmx.body.find("\"values\":[1,255,128,128,51,0,0,0,0,0,255,255,255,0,0,127,127,0,0,77,0"),
        std::string::npos)
        << dmx.body;
    EXPECT_NE(
        fixture.get("/api/status").body.find("\"address\":\"127.0.0.1\",\"protocol\":\"Art-Net\""),
        std::string::npos);

    // The push stream carries a new value within half a second.
    std::string stream;
    std::thread reader(
        [&] { stream = LumetraTest::httpReadFor(fixture.port, "/api/events", 1.0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    showPicture(1, 99);
    reader.join();
    EXPECT_NE(stream.find("text/event-stream"), std::string::npos);
    EXPECT_NE(stream.find("0,0,99,0"), std::string::npos) << stream.substr(0, 400);

    const HttpReply slots = fixture.get("/api/slots");
    EXPECT_NE(slots.body.find("{\"slot\":1,\"file\":\"001.png\",\"kind\":\"still\""),
              std::string::npos);
    const HttpReply thumbnail = fixture.get("/api/slots/1/thumbnail");
    int w = 0, h = 0;
    const std::vector<uint8_t> thumb = LumetraTest::decodePng(thumbnail.body, &w, &h);
    ASSERT_EQ(w, 8);
    EXPECT_EQ(thumb[0], 255);
    EXPECT_EQ(fixture.get("/api/slots/2/thumbnail").status, 404);
    // A clip's first picture.
    ASSERT_EQ(LumetraTest::runCommand("ffmpeg -loglevel error -f lavfi -i color=c=blue:s=64x48:d=1 "
                                      "-c:v libx264 -pix_fmt yuv420p -f h264 " +
                                      fixture.work.file("textures/002.h264")),
              0);
    const std::vector<uint8_t> clip =
        LumetraTest::decodePng(fixture.get("/api/slots/2/thumbnail").body, &w, &h);
    ASSERT_EQ(w, 64);
    EXPECT_GT(clip[2], 200);
    EXPECT_LT(clip[0], 30);

    // Every key with its meaning; the password's value never leaves the fixture.
    const HttpReply config = fixture.get("/api/config");
    EXPECT_NE(config.body.find("\"name\":\"WEB_PORT\""), std::string::npos);
    EXPECT_NE(config.body.find("\"name\":\"WEB_PASSWORD\",\"kind\":\"password\""),
              std::string::npos);
    EXPECT_EQ(config.body.find("show-secret"), std::string::npos);

    // The pages themselves, and errors as JSON.
    EXPECT_NE(fixture.get("/").body.find("<title>Lumetra</title>"), std::string::npos);
    EXPECT_EQ(fixture.get("/app.js").header("Content-Type"), "text/javascript; charset=utf-8");
    const HttpReply missing = fixture.get("/api/nothing");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "{\"error\":\"no API /api/nothing\"}");
    EXPECT_EQ(httpRequest(fixture.port, "POST", "/api/status").status, 401);

    // sACN senders are listed with their address and priority, the one that loses too.
    Lumetra::ArtnetTest::SacnFields low;
    low.slots = LumetraTest::centredPicture(1, 51);
    low.cid = Lumetra::ArtnetTest::cidNumber(1);
    Lumetra::ArtnetTest::SacnFields high = low;
    high.priority = 150;
    high.cid = Lumetra::ArtnetTest::cidNumber(2);
    Lumetra::ArtnetTest::SacnSource quiet(low, "127.0.0.1", "127.0.0.1");
    Lumetra::ArtnetTest::SacnSource loud(high, "127.0.0.1", "127.0.0.1");
    const std::string lower = "\"address\":\"127.0.0.1\",\"protocol\":\"sACN\",\"priority\":100,";
    const std::string higher = "\"address\":\"127.0.0.1\",\"protocol\":\"sACN\",\"priority\":150,";
    std::string listed;
    for (int i = 0; i < 40; ++i) {
        listed = fixture.get("/api/status").body;
        if (listed.find(lower) != std::string::npos && listed.find(higher) != std::string::npos) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(listed.find(lower), std::string::npos) << listed;
    EXPECT_NE(listed.find(higher), std::string::npos) << listed;
    EXPECT_NE(listed.find("\"protocol\":\"Art-Net\",\"priority\":null,"), std::string::npos);
}

// With 32 channels frames reach the canvases on another path; the monitor follows them too.
TEST(WebApi, DmxMonitorFollowsTheDeskInThe32ChannelMode) {
    WebFixture fixture("CHANNELS=32\n");
    ASSERT_TRUE(fixture.up);
    std::string body;
    for (int i = 0; i < 40 && body.find("\"values\":[1,255,128,128,51,") == std::string::npos;
         ++i) {
        showPicture(1, 77);
        usleep(50000);
        body = fixture.get("/api/dmx").body;
    }
    EXPECT_NE(body.find("\"values\":[1,255,128,128,51,"), std::string::npos) << body;
}

TEST(WebApi, RefusesChangesWithoutPasswordOrHeaderAndOddNames) {
    WebFixture fixture;
    ASSERT_TRUE(fixture.up);
    const std::string png = pngBytes(0, 255, 0);
    const std::string header = "X-Lumetra-Request: 1";
    const std::string upload = "/api/slots/1?name=green.png";
    EXPECT_EQ(httpRequest(fixture.port, "PUT", upload, png, {header}).status, 401);
    EXPECT_EQ(httpRequest(fixture.port, "PUT", upload, png,
                          {LumetraTest::basicAuth("lumetra", "guess"), header})
                  .status,
              401);
    EXPECT_EQ(httpRequest(fixture.port, "DELETE", "/api/slots/1", "",
                          {LumetraTest::basicAuth("admin", "show-secret"), header})
                  .status,
              401);
    EXPECT_EQ(httpRequest(fixture.port, "POST", "/api/restart", "", {header}).status, 401);
    // The right password from a cross-site form: no header.
    const HttpReply cross = httpRequest(fixture.port, "PUT", "/api/config", "NAME=x",
                                        {LumetraTest::basicAuth("lumetra", "show-secret")});
    EXPECT_EQ(cross.status, 403);
    EXPECT_NE(cross.body.find("X-Lumetra-Request"), std::string::npos);

    for (const char* name : {"../green.png", "..%2Fgreen.png", "a/b.png", ".png", "green.exe",
                             "green", "%00.png", "x..png", "green.png%20"}) {
        EXPECT_EQ(fixture.change("PUT", std::string("/api/slots/1?name=") + name, png).status, 400)
            << name;
    }
    for (const char* slot : {"256", "-1", "01", "1a", "1%2F..%2F2"}) {
        EXPECT_EQ(
            fixture.change("PUT", std::string("/api/slots/") + slot + "?name=g.png", png).status,
            404)
            << slot;
    }
    EXPECT_EQ(fixture.change("PUT", "/api/slots/1?name=green.png", "not a picture").status, 422);
    EXPECT_EQ(fixture.change("PUT", "/api/config", "ANZAHL=26").status, 422);
    EXPECT_EQ(fixture.change("PUT", "/api/config", "WEB_PASSWORD=a#b").status, 422);
    EXPECT_EQ(fixture.change("PUT", "/api/config", "SECRET=1").status, 422);
    EXPECT_EQ(fixture.change("POST", "/api/identify?seconds=-3").status, 400);

    // Nothing changed anywhere.
    EXPECT_EQ(fixture.textureFiles(), std::vector<std::string>{"001.png"});
    EXPECT_EQ(LumetraTest::readFile(fixture.work.file("config.txt")).find("NAME="),
              std::string::npos);
    std::vector<std::string> outside;
    DIR* dir = opendir(fixture.work.path().c_str());
    while (dirent* entry = readdir(dir)) {
        outside.push_back(entry->d_name);
    }
    closedir(dir);
    EXPECT_EQ(std::find(outside.begin(), outside.end(), "green.png"), outside.end());
}

TEST(WebApi, ReadOnlyWithoutPassword) {
    WebFixture fixture("");
    ASSERT_TRUE(fixture.up);
    const HttpReply refused = fixture.change("DELETE", "/api/slots/1");
    EXPECT_EQ(refused.status, 403);
    EXPECT_NE(refused.body.find("WEB_PASSWORD="), std::string::npos);
    EXPECT_NE(fixture.get("/api/status").body.find("\"read_only\":true"), std::string::npos);
    EXPECT_EQ(fixture.textureFiles(), std::vector<std::string>{"001.png"});
}

TEST(WebApi, UploadReplacesTheSlotOnTheOutputAndDeleteEmptiesIt) {
    WebFixture fixture;
    ASSERT_TRUE(fixture.up);
    showPicture(1);
    ASSERT_EQ(fixture.previewCentre(0xff0000, 5), 0xff0000);

    const HttpReply uploaded =
        fixture.change("PUT", "/api/slots/1?name=Green-1.png", pngBytes(0, 255, 0));
    EXPECT_EQ(uploaded.status, 201) << uploaded.body;
    EXPECT_EQ(fixture.textureFiles(), std::vector<std::string>{"001_Green-1.png"});
    EXPECT_EQ(fixture.previewCentre(0x00ff00, 5), 0x00ff00);

    EXPECT_EQ(fixture.change("DELETE", "/api/slots/1").status, 200);
    EXPECT_TRUE(fixture.textureFiles().empty());
    EXPECT_EQ(fixture.change("DELETE", "/api/slots/1").status, 404);
}

TEST(WebApi, HugeUploadIsRefusedWithoutMemoryGrowth) {
    WebFixture fixture;
    ASSERT_TRUE(fixture.up);
    const pid_t pid = fixture.program->processId();
    const long before = residentKb(pid);

    // Announced: refused before a byte of the body is read.
    const int announced = LumetraTest::tcpConnect(fixture.port);
    const std::string head = "PUT /api/slots/3?name=big.png HTTP/1.1\r\nHost: x\r\n" +
                             LumetraTest::basicAuth("lumetra", "show-secret") +
                             "\r\nX-Lumetra-Request: 1\r\nContent-Length: 1073741824\r\n\r\n";
    ASSERT_EQ(write(announced, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    char answer[256] = {};
    ASSERT_GT(read(announced, answer, sizeof(answer) - 1), 0);
    EXPECT_EQ(std::string(answer).substr(0, 12), "HTTP/1.1 413");
    close(announced);

    // Not announced (chunked): a gigabyte streamed until the server stops taking it.
    const int streamed = LumetraTest::tcpConnect(fixture.port);
    const std::string chunked_head =
        "PUT /api/slots/3?name=big.png HTTP/1.1\r\nHost: x\r\n" +
        LumetraTest::basicAuth("lumetra", "show-secret") +
        "\r\nX-Lumetra-Request: 1\r\nTransfer-Encoding: chunked\r\n\r\n";
    send(streamed, chunked_head.data(), chunked_head.size(), MSG_NOSIGNAL);
    std::string chunk = "100000\r\n" + std::string(0x100000, 'x') + "\r\n";
    long peak = before;
    size_t sent_mb = 0;
    for (; sent_mb < 1024; ++sent_mb) {
        if (send(streamed, chunk.data(), chunk.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(chunk.size())) {
            break;
        }
        if (sent_mb % 32 == 0) {
            peak = std::max(peak, residentKb(pid));
        }
    }
    close(streamed);
    EXPECT_LT(sent_mb, 1024u);  // cut off near the limit
    EXPECT_LT(peak - before, 32 * 1024) << "resident memory grew by " << (peak - before) << " KB";
    EXPECT_TRUE(fixture.textureFiles() == std::vector<std::string>{"001.png"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(fixture.get("/api/status").status, 200);
}

TEST(WebApi, SettingWrittenAndRestartBringsItBack) {
    WebFixture fixture;
    ASSERT_TRUE(fixture.up);
    const pid_t pid = fixture.program->processId();
    const HttpReply written = fixture.change("PUT", "/api/config", "NAME=Stage-Left&SUBNET=2");
    EXPECT_EQ(written.status, 200) << written.body;
    const std::string text = LumetraTest::readFile(fixture.work.file("config.txt"));
    EXPECT_EQ(text.substr(0, 8), "# rig A\n");
    EXPECT_NE(text.find("NAME=Stage-Left\n"), std::string::npos);

    EXPECT_EQ(fixture.change("POST", "/api/restart").status, 202);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(LumetraTest::waitForHttp(fixture.port, "/api/status", 30));
    const std::string status = fixture.get("/api/status").body;
    EXPECT_NE(status.find("\"name\":\"Stage-Left\""), std::string::npos) << status;
    EXPECT_NE(status.find("\"subnet\":2,"), std::string::npos);
    EXPECT_EQ(fixture.program->processId(), pid);  // the program started itself again
}

TEST(WebApi, IdentifyAndADesksLocateDrawThePatternOverTheOutputUntilSwitchedOff) {
    WebFixture fixture;
    ASSERT_TRUE(fixture.up);
    showPicture(1);  // a canvas drawn before the pattern leaves its size behind
    ASSERT_EQ(fixture.previewCentre(0xff0000, 5), 0xff0000);
    EXPECT_EQ(fixture.change("POST", "/api/identify?seconds=30").status, 200);
    // The pattern's white edge along the top row of the output.
    std::vector<uint8_t> frame;
    for (int i = 0; i < 20 && (frame.empty() || frame[kWidth / 3 * 4] != 255); ++i) {
        frame = fixture.program->nextFrame();
    }
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(frame[kWidth / 3 * 4], 255);
    EXPECT_EQ(frame[(kHeight / 2 * kWidth + 2) * 4 + 1], 255);  // left edge
    EXPECT_EQ(fixture.change("POST", "/api/identify?seconds=0").status, 200);
    for (int i = 0; i < 20 && frame[kWidth / 3 * 4] != 0; ++i) {
        frame = fixture.program->nextFrame();
    }
    EXPECT_EQ(frame[kWidth / 3 * 4], 0);

    // A desk's locate (ArtAddress) shows it too, until the desk sets the LED back to normal.
    Lumetra::ArtnetTest::Bytes locate = Lumetra::ArtnetTest::artAddress();
    locate[106] = 0x04;  // AcLedLocate
    Lumetra::ArtnetTest::Sender desk;
    desk.send(locate);
    for (int i = 0; i < 20 && frame[kWidth / 3 * 4] != 255; ++i) {
        frame = fixture.program->nextFrame();
    }
    EXPECT_EQ(frame[kWidth / 3 * 4], 255);
    locate[106] = 0x02;  // AcLedNormal
    desk.send(locate);
    for (int i = 0; i < 20 && frame[kWidth / 3 * 4] != 0; ++i) {
        frame = fixture.program->nextFrame();
    }
    EXPECT_EQ(frame[kWidth / 3 * 4], 0);
}

TEST(WebApi, ManyIdleConnectionsAndASlowClientLeaveDmxAndTheServerWorking) {
    WebFixture fixture;
    ASSERT_TRUE(fixture.up);
    std::vector<int> idle;
    for (int i = 0; i < 500; ++i) {
        const int fd = LumetraTest::tcpConnect(fixture.port);
        if (fd >= 0) {
            idle.push_back(fd);
        }
    }
    EXPECT_EQ(idle.size(), 500u);
    // A slow client: half a request line, then nothing.
    const int slow = LumetraTest::tcpConnect(fixture.port);
    send(slow, "GET /api/sta", 12, MSG_NOSIGNAL);

    showPicture(1);
    std::vector<uint8_t> frame;
    for (int i = 0; i < 20; ++i) {
        frame = fixture.program->nextFrame();
        if (!frame.empty() && frame[(kHeight / 2 * kWidth + kWidth / 2) * 4] == 255) {
            break;
        }
    }
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(frame[(kHeight / 2 * kWidth + kWidth / 2) * 4], 255);
    EXPECT_EQ(fixture.get("/api/dmx").status, 200);
    for (int fd : idle) {
        close(fd);
    }
    close(slow);
}

}  // namespace
