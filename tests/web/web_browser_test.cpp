// The pages in a real browser (Debian's headless Chromium, driven by chromedriver over
// WebDriver) against the real program: no console errors on any page, the preview shows
// what Art-Net put on a canvas, the DMX monitor follows within half a second, a picture
// uploaded through the form reaches the output, a setting applied by the page's restart
// comes back, and identify shows its pattern.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "support/http_client.h"
#include "support/snapshot_program.h"
#include "support/test_support.h"
#include "web/web_parsing.h"

namespace {

using LumetraTest::httpRequest;
using Clock = std::chrono::steady_clock;

const int kWidth = 320;
const int kHeight = 180;

// The value of a JSON answer's first "key": "string".
std::string jsonText(const std::string& json, const std::string& key) {
    const std::string marker = "\"" + key + "\":\"";
    const size_t at = json.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    const size_t begin = at + marker.size();
    return json.substr(begin, json.find('"', begin) - begin);
}

std::string quoted(const std::string& text) {
    return Lumetra::jsonString(text);
}

// One chromedriver with one headless Chromium session.
class Browser {
  public:
    explicit Browser(const std::string& profile) {
        port = LumetraTest::freeTcpPort();
        pid = fork();
        if (pid == 0) {
            const std::string flag = "--port=" + std::to_string(port);
            execlp("chromedriver", "chromedriver", flag.c_str(), "--log-level=OFF",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        if (!LumetraTest::waitForHttp(port, "/status", 20)) {
            return;
        }
        const std::string args =
            "[\"--headless\",\"--no-sandbox\",\"--disable-gpu\",\"--disable-quic\","
            "\"--no-first-run\",\"--disable-background-networking\","
            "\"--disable-component-update\",\"--disable-sync\",\"--window-size=900,1200\","
            "\"--user-data-dir=" +
            profile + "\"]";
        const std::string reply =
            call("POST", "/session",
                 "{\"capabilities\":{\"alwaysMatch\":{\"goog:chromeOptions\":{\"binary\":"
                 "\"/usr/bin/chromium\",\"args\":" +
                     args + "},\"goog:loggingPrefs\":{\"browser\":\"ALL\"}}}}");
        session = jsonText(reply, "sessionId");
    }
    ~Browser() {
        if (!session.empty()) {
            call("DELETE", "/session/" + session, "");
        }
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    }
    bool ready() const { return !session.empty(); }
    std::string call(const std::string& method, const std::string& path, const std::string& body) {
        return httpRequest(port, method, path, body, {"Content-Type: application/json"}, 60).body;
    }
    std::string command(const std::string& method, const std::string& path,
                        const std::string& body = "{}") {
        return call(method, "/session/" + session + path, body);
    }
    void open(const std::string& url) { command("POST", "/url", "{\"url\":" + quoted(url) + "}"); }
    // Runs `script` (a function body) and gives the JSON answer.
    std::string run(const std::string& script) {
        return command("POST", "/execute/sync", "{\"script\":" + quoted(script) + ",\"args\":[]}");
    }
    // Waits up to `seconds` until `script` returns true.
    bool waitFor(const std::string& script, double seconds) {
        const auto end = Clock::now() + std::chrono::duration<double>(seconds);
        while (Clock::now() < end) {
            if (run(script).find("\"value\":true") != std::string::npos) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    std::string element(const std::string& css) {
        const std::string reply = command(
            "POST", "/element", "{\"using\":\"css selector\",\"value\":" + quoted(css) + "}");
        const size_t colon = reply.find("\":\"", reply.find("element-"));
        return colon == std::string::npos
                   ? ""
                   : reply.substr(colon + 3, reply.find('"', colon + 3) - colon - 3);
    }
    // Severe console messages since the last call.
    std::string severeLog() {
        const std::string log = command("POST", "/se/log", "{\"type\":\"browser\"}");
        std::string severe;
        for (size_t at = 0; (at = log.find("\"level\":\"SEVERE\"", at)) != std::string::npos;
             ++at) {
            severe += log.substr(at, log.find('}', at) - at) + "\n";
        }
        return severe;
    }
    // The page as drawn, RGBA.
    std::vector<uint8_t> screenshot(int* width, int* height) {
        std::string png;
        Lumetra::decodeBase64(jsonText(command("GET", "/screenshot", ""), "value"), &png);
        return LumetraTest::decodePng(png, width, height);
    }

  private:
    int port = 0;
    pid_t pid = -1;
    std::string session;
};

void showPicture(int slot, uint8_t last_channel) {
    std::vector<uint8_t> channels(20, 0);
    channels[0] = static_cast<uint8_t>(slot);
    channels[1] = 255;
    channels[2] = channels[3] = 128;
    channels[4] = 51;
    channels[10] = channels[11] = channels[12] = 255;
    channels[15] = channels[16] = 127;
    channels[19] = last_channel;
    LumetraTest::sendArtDmx(0, 1, channels);
}

TEST(WebBrowser, PagesWorkInChromiumAgainstTheRealFixture) {
    if (LumetraTest::runCommand(
            "command -v chromedriver >/dev/null && test -x /usr/bin/chromium") != 0) {
        GTEST_SKIP()
            << "chromium and chromium-driver are not installed (scripts/install-deps test)";
    }
    LumetraTest::TempWorkDir work;
    const int port = LumetraTest::freeTcpPort();
    LumetraTest::writeFile(work.file("config.txt"),
                           "DMX_START=1\nWEB_PASSWORD=pw\nWEB_PORT=" + std::to_string(port) + "\n");
    LumetraTest::writePng(work.file("textures/001.png"), 8, 8,
                          LumetraTest::solidRgba(8, 8, 255, 0, 0));
    LumetraTest::SnapshotProgram program(work.path(), kWidth, kHeight, 30);
    ASSERT_TRUE(LumetraTest::waitForHttp(port, "/api/status", 30));
    showPicture(1, 10);
    Browser browser(work.file("profile"));
    ASSERT_TRUE(browser.ready());
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";

    for (const char* page : {"status", "dmx", "pictures", "settings", "identify", "preview"}) {
        browser.open(base + "#" + page);
        EXPECT_TRUE(browser.waitFor("return document.title.indexOf('(Lumetra)') > 0;", 5)) << page;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(browser.severeLog(), "") << page;
    }

    // The preview (the last page opened) shows the red picture in the middle.
    ASSERT_TRUE(
        browser.waitFor("const i = document.getElementById('preview-image');"
                        "return i.complete && i.naturalWidth > 0;",
                        5));
    const std::string rect = browser.run(
        "const r = document.getElementById('preview-image').getBoundingClientRect();"
        "return Math.round(r.left + r.width / 2) * 10000 + Math.round(r.top + r.height / 2);");
    const long centre = std::atol(rect.c_str() + rect.find(':') + 1);
    int w = 0, h = 0;
    const std::vector<uint8_t> shot = browser.screenshot(&w, &h);
    ASSERT_FALSE(shot.empty());
    const uint8_t* p = &shot[(static_cast<size_t>(centre % 10000) * w + centre / 10000) * 4];
    EXPECT_GT(p[0], 200);
    EXPECT_LT(p[1], 50);

    // The DMX monitor follows a new value within half a second.
    browser.open(base + "#dmx");
    ASSERT_TRUE(browser.waitFor(
        "return document.querySelectorAll('#dmx-grid b')[19].textContent === '10';", 5));
    showPicture(1, 200);
    EXPECT_TRUE(browser.waitFor(
        "return document.querySelectorAll('#dmx-grid b')[19].textContent === '200';", 0.5));

    // A PNG uploaded through the form appears on the canvas that shows slot 1.
    const std::string green = work.file("green.png");
    LumetraTest::writePng(green, 8, 8, LumetraTest::solidRgba(8, 8, 0, 255, 0));
    browser.open(base + "#pictures");
    browser.run(
        "sessionStorage.setItem('lumetra-password', 'pw');"
        "document.getElementById('upload-slot').value = '1';");
    browser.command("POST", "/element/" + browser.element("#upload-file") + "/value",
                    "{\"text\":" + quoted(green) + "}");
    browser.command("POST", "/element/" + browser.element("#upload button") + "/click");
    EXPECT_TRUE(browser.waitFor(
        "return document.getElementById('message').textContent.indexOf('now holds') >= 0;", 5));
    // The library's list follows (the page reloads it a moment later).
    EXPECT_TRUE(browser.waitFor(
        "return document.getElementById('slots').textContent.indexOf('001_green.png') >= 0;", 5));
    std::vector<uint8_t> frame;
    for (int i = 0; i < 30; ++i) {
        frame = program.nextFrame();
        if (!frame.empty() && frame[(kHeight / 2 * kWidth + kWidth / 2) * 4 + 1] == 255) {
            break;
        }
    }
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(frame[(kHeight / 2 * kWidth + kWidth / 2) * 4 + 1], 255);
    EXPECT_EQ(frame[(kHeight / 2 * kWidth + kWidth / 2) * 4], 0);

    // Identify from its page: the pattern's white top edge on the output.
    browser.open(base + "#identify");
    browser.command("POST", "/element/" + browser.element("#identify-form button") + "/click");
    EXPECT_TRUE(browser.waitFor(
        "return document.getElementById('message').textContent.indexOf('Identify for') === 0;", 5))
        << browser.run("return document.getElementById('message').textContent;");
    for (int i = 0; i < 20 && (frame.empty() || frame[kWidth / 3 * 4] != 255); ++i) {
        frame = program.nextFrame();
    }
    EXPECT_EQ(frame[kWidth / 3 * 4], 255);

    // A setting changed on the page and applied by its restart is there afterwards.
    browser.open(base + "#settings");
    ASSERT_TRUE(browser.waitFor("return !!document.querySelector('input[name=NAME]');", 5));
    browser.run("document.querySelector('input[name=NAME]').value = 'Truss-7';");
    browser.command("POST", "/element/" + browser.element("#settings-form button") + "/click");
    EXPECT_TRUE(browser.waitFor(
        "return document.getElementById('message').textContent.indexOf('Saved') === 0;", 5));
    EXPECT_EQ(browser.severeLog(), "");
    browser.command("POST", "/element/" + browser.element("#restart") + "/click");
    EXPECT_TRUE(browser.waitFor(
        "return document.getElementById('message').textContent.indexOf('Back after') === 0;", 30));
    EXPECT_NE(httpRequest(port, "GET", "/api/status").body.find("\"name\":\"Truss-7\""),
              std::string::npos);
    // While the fixture starts again the page's polls find nobody; the browser logs each as
    // a network error, but the page itself must not fail.
    EXPECT_EQ(browser.severeLog().find("\"source\":\"javascript\""), std::string::npos);
}

}  // namespace
