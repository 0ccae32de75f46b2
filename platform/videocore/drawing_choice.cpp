// The legacy firmware's GL is OpenGL ES 1.x with the fixed-function pipeline.

#include "platform/drawing_api.h"

namespace Lumetra {
namespace Platform {

const DrawingApi* drawingApi() {
    return &gles1_drawing;
}

const char* drawingChoiceNote() {
    return "";
}

}  // namespace Platform
}  // namespace Lumetra
