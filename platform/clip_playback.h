#pragma once

// Clips played in an endless loop into GL textures, on threads of their own: FFmpeg on
// Mesa, the firmware's OpenMAX IL components on the legacy platform. One implementation
// per platform folder.

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Lumetra {
namespace Platform {

class ClipPlayback {
  public:
    // Waits for the playback's threads to end; after signalStop that is prompt.
    virtual ~ClipPlayback() = default;

    // Asks the playback to end, without waiting.
    virtual void signalStop() = 0;
    // True once its threads have ended: deleting it then does not wait.
    virtual bool hasEnded() const = 0;
    // True when, once signalled, it may wind down after its GL texture is gone (it writes
    // through an EGL image that keeps the pixels alive); false when it must be deleted
    // before the texture is.
    virtual bool outlivesItsTexture() const = 0;
};

// Starts clip `filename` looping into `image`, an EGL image of a GL texture of the
// renderer's `context`. `player` (1..3) names the player in messages. Render thread.
// The playback owns the image from here on.
ClipPlayback* startClipPlayback(int player, const std::string& filename, EGLDisplay display,
                                EGLContext context, EGLImageKHR image);

// With `on` (CLIP_SYNC=1 in config.txt), clips started from now on show picture
// floor((wall clock - Unix epoch) x frame rate) mod picture count, with the clip's own
// frame rate, so that fixtures whose clocks agree show the same picture at the same time
// however each was started; off, a clip loops from its own start. Set before the pictures
// are loaded.
void setClipLockStep(bool on);

// The clip's picture size, learned within a bounded time. False when it cannot be known,
// with `why_not` set when there is more to say than that the file holds no video.
bool clipPictureSize(const std::string& filename, int* width, int* height, std::string* why_not);

// The clip's first picture as RGBA (top row first), scaled to at most `max_side` pixels on
// its longer side, within a bounded time. False when there is none to give (on the legacy
// platform, which decodes only on the VideoCore, always).
bool clipThumbnail(const std::string& filename, int max_side, std::vector<uint8_t>* rgba,
                   int* width, int* height);

}  // namespace Platform
}  // namespace Lumetra
