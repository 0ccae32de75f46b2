// Mesa draws with OpenGL ES 2, which every current Mesa driver offers; Debian 13's Mesa
// refuses ES 1.x contexts outright. LUMETRA_GLES=1 draws with the fixed-function ES 1.x
// pipeline instead, where the build has it and the driver still offers it, to compare the
// two; when the driver refuses it the program stops with the reason rather than drawing
// with something else than was asked for.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/drawing_api.h"
#include "log/log.h"
#include "platform/mesa/mesa_display.h"

namespace Lumetra {
namespace Platform {

namespace {

const DrawingApi* chosen = &gles2_drawing;
const char* note = "";

}  // namespace

namespace Mesa {

void chooseDrawing() {
    chosen = &gles2_drawing;
    note = "";
    const char* wanted = std::getenv("LUMETRA_GLES");
    if (wanted == nullptr || *wanted == '\0' || std::strcmp(wanted, "2") == 0) {
        return;
    }
    if (std::strcmp(wanted, "1") != 0) {
        logLine(LogLevel::Warning, "LUMETRA_GLES '%s' is not 1 or 2, using 2", wanted);
        return;
    }
#if defined(LUMETRA_HAVE_GLES1)
    chosen = &gles1_drawing;
    note = " (LUMETRA_GLES=1 asked for it; without it the fixture draws with OpenGL ES 2)";
#else
    chosen = nullptr;
    note =
        "LUMETRA_GLES=1 asks for OpenGL ES 1, which this build lacks (no glesv1_cm when it "
        "was built)";
#endif
}

}  // namespace Mesa

const DrawingApi* drawingApi() {
    return chosen;
}

const char* drawingChoiceNote() {
    return note;
}

}  // namespace Platform
}  // namespace Lumetra
