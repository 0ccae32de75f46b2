// Entry point: builds the console, the configuration, the canvas manager and the Art-Net
// receiver in this order, renders until the quit flag is set, and tears down in reverse.

#include <cstdio>
#include <cstring>

#include "artnet_receiver.h"
#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_manager.h"
#include "config_loader.h"
#include "console_screen.h"
#include "platform/display.h"

namespace {
const char kBanner[] = "Raspberry Pi Lumetra | Version: 0.3.1";
const char kContentType[] = "CONTENT_TEXTURE_256";
}  // namespace

int main(int argc, char** argv) {
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

    Lumetra::ConsoleScreen* c_screen = new Lumetra::ConsoleScreen(silent);
    c_screen->showTitle();

    Lumetra::ConfigLoader* config = new Lumetra::ConfigLoader();
    c_screen->print("Config: subnet:%i universe:%i anzahl:%i DMX:%i Zoom:%i\n",
                    config->getArtnetSubnet(), config->getArtnetUniverse(), config->getVormelNum(),
                    config->getVormelDMXStart(), config->getZoomType());

    // Loading the pictures takes seconds on a Pi: show how far it has come on the line
    // where the frame rate appears later.
    Lumetra::setLoadProgressReporter([c_screen](int done, int total) {
        char text[64];
        std::snprintf(text, sizeof(text), "Loading pictures %d/%d", done, total);
        c_screen->showStatus(4, done < total ? text : "");
    });
    Lumetra::CanvasManager* screen = new Lumetra::CanvasManager();
    Lumetra::setLoadProgressReporter(nullptr);
    screen->setZoom(config->getZoomType());
    c_screen->print("Screen: %i x %i\n", screen->getScreenWidth(), screen->getScreenHeight());

    int group_id = screen->generateCanvasGroup(config->getVormelNum(), kContentType);

    Lumetra::ArtnetReceiver* dmxr = new Lumetra::ArtnetReceiver(
        screen, group_id, config->getArtnetUniverse(), config->getArtnetSubnet(),
        config->getVormelDMXStart(), config->getScalingMultiplier(), config->getGpioLed());
    c_screen->print("Init Done! Starting main loop... Press 'q' to quit! \n");
    // Below the frame rate: why the projector may be black (no screen found).
    if (*Lumetra::Platform::displayNote() != '\0') {
        c_screen->moveTo(5, 0);
        c_screen->print("%s", Lumetra::Platform::displayNote());
    }

    while (!c_screen->isQuit()) {
        screen->renderFrame();
        c_screen->moveTo(4, 0);
        c_screen->print(" FPS: %5.2f ", static_cast<double>(screen->getFPS()));
        c_screen->clearRestOfLine();
    }

    delete dmxr;
    delete screen;
    delete config;
    delete c_screen;
    return 0;
}
