// Entry point: builds the console, the configuration, the canvas manager and the Art-Net
// receiver in this order, renders until the quit flag is set, and tears down in reverse.
// A quit request (`q`, SIGINT, SIGTERM) during start-up skips the steps not yet taken.

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "artnet_receiver.h"
#include "canvas/canvas_content/content_local_file_texture/gif_clock.h"
#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_manager.h"
#include "canvas/frame_snapshot.h"
#include "log/log.h"
#include "config_loader.h"
#include "console_screen.h"
#include "network_privilege.h"
#include "startup_guard.h"
#include "platform/clip_playback.h"
#include "platform/display.h"

namespace {

const char kBanner[] = "Raspberry Pi Lumetra | Version: 0.3.1";
const char kContentType[] = "CONTENT_TEXTURE_256";
// A quit request during start-up ends the process within this time even where start-up
// is stuck (the guard polls every 50 ms on top).
const std::chrono::milliseconds kStartupQuitGrace(400);

// Loading the pictures takes seconds on a Pi: show how far it has come on the line where
// the frame rate appears later, and stop when asked to quit.
// A picture that was reduced or refused gets a line of its own below the frame rate; in
// silent mode the line goes to standard error.
Lumetra::CanvasManager* loadCanvasManager(Lumetra::ConsoleScreen* c_screen, bool silent,
                                          int* notice_line) {
    Lumetra::setLoadProgressReporter([c_screen](int done, int total) {
        char text[64];
        std::snprintf(text, sizeof(text), "Loading pictures %d/%d", done, total);
        c_screen->showStatus(4, done < total ? text : "");
    });
    if (!silent) {
        Lumetra::setLoadNoticeReporter([c_screen, notice_line](const std::string& line) {
            c_screen->showStatus((*notice_line)++, line.c_str());
        });
    }
    Lumetra::setLoadStopQuery([c_screen] { return c_screen->isQuit(); });
    Lumetra::CanvasManager* screen = new Lumetra::CanvasManager();
    Lumetra::setLoadStopQuery(nullptr);
    Lumetra::setLoadNoticeReporter(nullptr);
    Lumetra::setLoadProgressReporter(nullptr);
    return screen;
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
    Lumetra::Platform::hostInit();
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
    int notice_line = 6;
    if (!c_screen->isQuit()) {
        screen = loadCanvasManager(c_screen, silent, &notice_line);
    }
    // Lines about pictures changed while the show runs: the latest one, below the others.
    if (!silent) {
        Lumetra::setLoadNoticeReporter([c_screen, notice_line](const std::string& line) {
            c_screen->showStatus(notice_line, line.c_str());
        });
    }
    if (!c_screen->isQuit()) {
        screen->setZoom(config->getZoomType());
        c_screen->print("Screen: %i x %i\n", screen->getScreenWidth(), screen->getScreenHeight());
        int group_id = screen->generateCanvasGroup(config->getVormelNum(), kContentType);
        Lumetra::ArtnetIdentity identity;
        identity.net = config->getArtnetNet();
        identity.short_name = config->getShortName();
        identity.long_name = config->getLongName();
        identity.sacn_follows = config->sacnFollowsArtnet();
        dmxr = new Lumetra::ArtnetReceiver(
            screen, group_id, config->getArtnetUniverse(), config->getArtnetSubnet(),
            config->getVormelDMXStart(), config->getScalingMultiplier(), config->getGpioLed(),
            config->getSacnUniverse(), config->getChannels(), identity);
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

    while (!c_screen->isQuit()) {
        screen->renderFrame();
        c_screen->moveTo(4, 0);
        c_screen->print(" FPS: %5.2f ", static_cast<double>(screen->getFPS()));
        c_screen->clearRestOfLine();
    }

    // A frame asked for just before the quit (`kill -USR1` and `kill` in one breath) is
    // still drawn and written; the writer finishes it on the way out.
    if (dmxr != nullptr && Lumetra::FrameSnapshot::pending()) {
        screen->renderFrame();
    }
    delete dmxr;
    delete screen;
    Lumetra::setLoadNoticeReporter(nullptr);
    delete config;
    guard.finish();
    delete c_screen;
    return 0;
}
