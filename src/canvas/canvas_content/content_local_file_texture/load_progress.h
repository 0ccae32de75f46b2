#pragma once

#include <functional>

namespace Lumetra {

// Start-up loads 256 picture slots, which can take seconds; whoever shows the console
// registers a reporter here. It is called on the render thread after each slot, with
// done == total once loading has ended.
using LoadProgressReporter = std::function<void(int done, int total)>;

void setLoadProgressReporter(LoadProgressReporter reporter);
void reportLoadProgress(int done, int total);

}  // namespace Lumetra
