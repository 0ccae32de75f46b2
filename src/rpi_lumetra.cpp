// Entry point: builds the console, the configuration, the canvas manager and the Art-Net
// receiver in this order, renders until the quit flag is set, and tears down in reverse.
// A quit request (`q`, SIGINT, SIGTERM) during start-up skips the steps not yet taken.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "artnet_receiver.h"
#include "canvas/canvas_content/content_local_file_texture/gif_clock.h"
#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/slot_files.h"
#include "canvas/canvas_manager.h"
#include "canvas/identify_overlay.h"
#include "canvas/renderer.h"
#include "canvas/frame_snapshot.h"
#include "log/log.h"
#include "config_loader.h"
#include "console_screen.h"
#include "network_privilege.h"
#include "platform/gl.h"
#include "receive_buffer.h"
#include "startup_guard.h"
#include "platform/clip_playback.h"
#include "platform/display.h"
#include "web/config_keys.h"
#include "web/identify_pattern.h"
#include "web/picture_library.h"
#include "web/preview_frames.h"
#include "web/web_server.h"

namespace {

const char kBanner[] = "Raspberry Pi Lumetra | Version: 0.3.1";
const char kContentType[] = "CONTENT_TEXTURE_256";
const char kVersion[] = "0.3.1";
// Largest picture or clip the web page takes as an upload.
const uint64_t kMaxUpload = 256ull * 1024 * 1024;
// A desk's locate shows the identify pattern until the desk switches it off, an hour at
// most: a desk that never does cannot leave it over the rest of the show.
const int kLocateSeconds = 3600;
// Exit status that asks systemd to start the service again (Restart=on-failure).
const int kRestartStatus = 75;
// A quit request during start-up ends the process within this time even where start-up
// is stuck (the guard polls every 50 ms on top).
const std::chrono::milliseconds kStartupQuitGrace(400);

// Loading the pictures takes seconds on a Pi: show how far it has come on the line where
// the frame rate appears later, and stop when asked to quit.
// A picture that was reduced or refused gets a line of its own below the frame rate; in
// silent mode the line goes to standard error.
Lumetra::CanvasManager* loadCanvasManager(Lumetra::ConsoleScreen* c_screen, bool silent,
                                          int* notice_line, std::vector<std::string>* notices) {
    Lumetra::setLoadProgressReporter([c_screen](int done, int total) {
        char text[64];
        std::snprintf(text, sizeof(text), "Loading pictures %d/%d", done, total);
        c_screen->showStatus(4, done < total ? text : "");
    });
    Lumetra::setLoadNoticeReporter(
        [c_screen, notice_line, silent, notices](const std::string& line) {
            notices->push_back(line);
            if (!silent) {
                c_screen->showStatus((*notice_line)++, line.c_str());
            } else {
                Lumetra::logFixed(Lumetra::LogLevel::Notice, stderr, "%s\n", line.c_str());
            }
        });
    Lumetra::setLoadStopQuery([c_screen] { return c_screen->isQuit(); });
    Lumetra::CanvasManager* screen = new Lumetra::CanvasManager();
    Lumetra::setLoadStopQuery(nullptr);
    Lumetra::setLoadNoticeReporter(nullptr);
    Lumetra::setLoadProgressReporter(nullptr);
    return screen;
}

// What the web page's status shows of this fixture.
Lumetra::WebServer::Fixture describeFixture(const Lumetra::ConfigLoader& config,
                                            Lumetra::CanvasManager* screen,
                                            Lumetra::ArtnetReceiver* dmxr) {
    Lumetra::WebServer::Fixture fixture;
    fixture.version = kVersion;
    fixture.net = config.getArtnetNet();
    fixture.subnet = config.getArtnetSubnet();
    fixture.universe = config.getArtnetUniverse();
    fixture.sacn_universe = config.getSacnUniverse();
    fixture.dmx_start = config.getVormelDMXStart();
    fixture.canvases = config.getVormelNum();
    fixture.screen_width = screen->getScreenWidth();
    fixture.screen_height = screen->getScreenHeight();
    fixture.display_note = Lumetra::Platform::displayNote();
    const GLubyte* gl_name = glGetString(GL_RENDERER);  // the context is current here
    if (gl_name != nullptr) {
        fixture.renderer = reinterpret_cast<const char*>(gl_name);
    }
    if (!fixture.display_note.empty()) {
        fixture.warnings.push_back(fixture.display_note);
    }
    // The kernel reports twice the usable size.
    if (dmxr->receiveBufferBytes() / 2 < Lumetra::RECEIVE_BUFFER_BYTES) {
        fixture.warnings.push_back(
            "UDP receive buffer " + std::to_string(dmxr->receiveBufferBytes() / 2 / 1024) +
            " KiB, not the " + std::to_string(Lumetra::RECEIVE_BUFFER_BYTES / 1024) +
            " KiB asked for: floods may crowd out DMX (give the program CAP_NET_ADMIN, "
            "or raise net.core.rmem_max)");
    }
    if (!dmxr->ledProblem().empty()) {
        fixture.warnings.push_back(dmxr->ledProblem());
    }
    fixture.dmx = &dmxr->dmxFrame();
    return fixture;
}

// Identify, from the web page or a desk's locate: the pattern is drawn at most 960 pixels
// wide and stretched, one upload of a few megabytes at most for the render thread.
std::function<void(int, const std::vector<std::string>&)> identifyOn(
    Lumetra::CanvasManager* screen) {
    const int out_w = screen->getScreenWidth();
    const int out_h = screen->getScreenHeight();
    const int step = std::max(1, (out_w + 959) / 960);
    Lumetra::IdentifyOverlay* overlay = screen->getRenderer()->getIdentifyOverlay();
    return [overlay, out_w, out_h, step](int seconds, const std::vector<std::string>& lines) {
        const int w = std::max(1, out_w / step);
        const int h = std::max(1, out_h / step);
        overlay->show(Lumetra::identifyPattern(w, h, lines), w, h, seconds);
    };
}

// The listener for the canvases of group_id, addressed as config.txt says.
Lumetra::ArtnetReceiver* startReceiver(const Lumetra::ConfigLoader& config,
                                       Lumetra::CanvasManager* screen, int group_id) {
    Lumetra::ArtnetIdentity identity;
    identity.net = config.getArtnetNet();
    identity.short_name = config.getShortName();
    identity.long_name = config.getLongName();
    identity.sacn_follows = config.sacnFollowsArtnet();
    identity.locate = [show = identifyOn(screen), dmx_start = config.getVormelDMXStart(),
                       canvases = config.getVormelNum()](bool on, int net, int subnet, int universe,
                                                         const std::string& name) {
        Lumetra::IdentifyFacts facts;
        facts.name = name;
        facts.net = net;
        facts.subnet = subnet;
        facts.universe = universe;
        facts.dmx_start = dmx_start;
        facts.canvases = canvases;
        show(on ? kLocateSeconds : 0,
             on ? Lumetra::identifyLines(facts) : std::vector<std::string>());
    };
    return new Lumetra::ArtnetReceiver(screen, group_id, config.getArtnetUniverse(),
                                       config.getArtnetSubnet(), config.getVormelDMXStart(),
                                       config.getScalingMultiplier(), config.getGpioLed(),
                                       config.getSacnUniverse(), config.getChannels(), identity);
}

// The web page, with the picture notices of start-up. A busy port costs the page, never
// the show: one line, and the fixture runs without it.
std::unique_ptr<Lumetra::WebServer> startWebPage(const Lumetra::WebSettings& settings,
                                                 const Lumetra::WebServer::Fixture& fixture,
                                                 const std::vector<std::string>& notices,
                                                 Lumetra::ConsoleScreen* c_screen, bool silent) {
    auto web = std::make_unique<Lumetra::WebServer>(settings, fixture);
    for (const std::string& line : notices) {
        web->addNotice(line);
    }
    if (!web->running()) {
        if (silent) {
            Lumetra::logLine(Lumetra::LogLevel::Warning, "web page off: %s", web->error().c_str());
        } else {
            c_screen->print("Web page off: %s\n", web->error().c_str());
        }
    }
    return web;
}

}  // namespace

int main(int argc, char** argv) {
    // Every signal disposition first: scripts signal a fixture they have just started, and
    // the display and the pictures take a while. The snapshot's SIGUSR1 goes in before the
    // rest, which would otherwise ignore it.
    Lumetra::FrameSnapshot::listen();
    Lumetra::ConsoleScreen::installSignalHandlers();

    bool silent = false;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("%s\n", kBanner);
            return 0;
        }
        if (std::strcmp(argv[i], "--silent") == 0) {
            silent = true;
        }
    }

    // The screen is chosen before the console starts, so that a line about it on stderr
    // is not drawn over: it stays in a log, and on a terminal it is there again after the
    // console ends.
    Lumetra::Platform::hostInit(&Lumetra::ConsoleScreen::quitRequested);
    if (!silent && *Lumetra::Platform::displayNote() != '\0') {
        Lumetra::logLine(Lumetra::LogLevel::Notice, "%s", Lumetra::Platform::displayNote());
    }
    Lumetra::ConsoleScreen* c_screen = new Lumetra::ConsoleScreen(silent);
    Lumetra::StartupGuard guard([c_screen] { return c_screen->isQuit(); }, kStartupQuitGrace);
    c_screen->showTitle();

    Lumetra::ConfigLoader* config = new Lumetra::ConfigLoader();
    // The 20-channel personality keeps the line as it always was.
    c_screen->print("Config: subnet:%i universe:%i anzahl:%i DMX:%i Zoom:%i%s\n",
                    config->getArtnetSubnet(), config->getArtnetUniverse(), config->getVormelNum(),
                    config->getVormelDMXStart(), config->getZoomType(),
                    config->getChannels() == 32 ? " Channels:32" : "");

    Lumetra::CanvasManager* screen = nullptr;
    Lumetra::ArtnetReceiver* dmxr = nullptr;
    Lumetra::setPictureReload(config->getPictureReload() != 0);
    Lumetra::setGifClockByTime(config->getChannels() == 32);
    Lumetra::Platform::setClipLockStep(config->getClipSync() != 0);
    // The web page's preview takes frames from the render loop only while it is set.
    const Lumetra::WebSettings web_settings =
        Lumetra::webSettingsOf(Lumetra::readConfigValues("config.txt"));
    std::unique_ptr<Lumetra::PreviewFrames> preview;
    if (web_settings.port != 0) {
        preview = std::make_unique<Lumetra::PreviewFrames>();
        Lumetra::FrameSnapshot::setSink(preview.get());
    }
    std::unique_ptr<Lumetra::PictureLibrary> library;
    std::unique_ptr<Lumetra::WebServer> web;
    std::atomic<float> fps{0.0f};
    std::atomic<bool> restart{false};
    std::vector<std::string> notices;
    int notice_line = 6;
    if (!c_screen->isQuit()) {
        screen = loadCanvasManager(c_screen, silent, &notice_line, &notices);
    }
    // Lines about pictures changed while the show runs: the latest one, below the others.
    Lumetra::setLoadNoticeReporter([c_screen, notice_line, silent, &web](const std::string& line) {
        if (!silent) {
            c_screen->showStatus(notice_line, line.c_str());
        } else {
            Lumetra::logFixed(Lumetra::LogLevel::Notice, stderr, "%s\n", line.c_str());
        }
        if (web) {
            web->addNotice(line);
        }
    });
    if (!c_screen->isQuit()) {
        screen->setZoom(config->getZoomType());
        c_screen->print("Screen: %i x %i\n", screen->getScreenWidth(), screen->getScreenHeight());
        int group_id = screen->generateCanvasGroup(config->getVormelNum(), kContentType);
        dmxr = startReceiver(*config, screen, group_id);
        if (web_settings.port != 0) {
            library = std::make_unique<Lumetra::PictureLibrary>(
                Lumetra::kTextureDir,
                Lumetra::PictureLimits::forMachine(Lumetra::PictureLimits::queryMaxTexture()),
                kMaxUpload);
            Lumetra::WebServer::Fixture fixture = describeFixture(*config, screen, dmxr);
            fixture.fps = &fps;
            fixture.preview = preview.get();
            fixture.library = library.get();
            fixture.restart = [&restart] { restart.store(true); };
            fixture.identify = identifyOn(screen);
            web = startWebPage(web_settings, fixture, notices, c_screen, silent);
        }
        Lumetra::dropNetworkPrivilege();  // the sockets are sized
        c_screen->print("Init Done! Starting main loop... Press 'q' to quit! \n");
    }
    if (!c_screen->isQuit()) {
        guard.finish();  // start-up done; a later quit takes the normal way out
        // Below the frame rate, as well: why the projector may be black (no screen found).
        if (*Lumetra::Platform::displayNote() != '\0') {
            c_screen->moveTo(5, 0);
            c_screen->print("%s", Lumetra::Platform::displayNote());
        }
    }

    while (!c_screen->isQuit() && !restart.load(std::memory_order_relaxed)) {
        screen->renderFrame();
        fps.store(screen->getFPS(), std::memory_order_relaxed);
        c_screen->moveTo(4, 0);
        c_screen->print(" FPS: %5.2f ", static_cast<double>(screen->getFPS()));
        c_screen->clearRestOfLine();
    }

    // A frame asked for just before the quit (`kill -USR1` and `kill` in one breath) is
    // still drawn and written; the writer finishes it on the way out.
    if (dmxr != nullptr && Lumetra::FrameSnapshot::pending()) {
        screen->renderFrame();
    }
    web.reset();  // its threads read the receiver's frame copy
    delete dmxr;
    delete screen;
    Lumetra::FrameSnapshot::setSink(nullptr);
    preview.reset();
    Lumetra::setLoadNoticeReporter(nullptr);
    delete config;
    guard.finish();
    delete c_screen;
    if (restart.load()) {
        // Asked from the web page: under systemd the service comes back on its own; from a
        // terminal the program starts itself again, with the same arguments.
        if (std::getenv("INVOCATION_ID") == nullptr) {
            execv("/proc/self/exe", argv);
            Lumetra::logLine(Lumetra::LogLevel::Error, "cannot start again: %s",
                             std::strerror(errno));
        }
        return kRestartStatus;
    }
    return 0;
}
