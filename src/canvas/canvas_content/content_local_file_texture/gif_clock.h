#pragma once

namespace Lumetra {

// How animated GIFs choose their frame: by binds (2 hundredths of a second per bind, the
// 20-channel personality's clock, right at 50 frames a second) or by the time since the
// GIF was first shown (the 32-channel personality: the file's own delays at any refresh
// rate and however many canvases show it). Set before the first frame is drawn.
void setGifClockByTime(bool on);
bool gifClockByTime();

}  // namespace Lumetra
