#include "canvas/canvas_content/content_interface.h"

namespace Lumetra {

ContentInterface::~ContentInterface() {}

}  // namespace Lumetra
