#pragma once

// Puts the frames of a GBM surface on a KMS screen: the first one with a mode set, every
// later one with a page flip whose completion it waits for, so that the render loop runs
// at the display's pace. Framebuffers are made once per GBM buffer and kept with it, so a
// frame allocates nothing.
//
// A buffer goes back to GBM only when no flip can still put it on the screen: a flip that
// does not complete in time keeps its buffer until its event arrives, and each event
// carries the buffer of its own flip, so a late event is never taken for a later flip's.
// When the screen is lost (another program took DRM master, the output went away) every
// frame tries to take it back with a mode set, at a frame's pace, and the picture returns
// when the screen does.

#include <gbm.h>
#include <xf86drm.h>

#include <cstdint>

namespace Lumetra {
namespace Platform {
namespace Mesa {

class KmsOutput;

struct KmsScanoutStats {
    unsigned long frames = 0;      // buffers put on the screen (mode set or flip)
    unsigned long flips = 0;       // page-flip events received
    unsigned long late_flips = 0;  // of those, events that came after their wait gave up
    unsigned long failures = 0;    // mode set, flip or framebuffer refused
    unsigned long dropped = 0;     // frames not shown: the last flip had not completed
    unsigned long mode_sets = 0;   // mode sets, the first one included
};

class KmsScanout {
  public:
    // The buffers belong to the EGL surface on `surface`: destroying that surface frees
    // them and their framebuffers, so this object never gives them back itself.
    // `flip_timeout_ms`: how long a frame waits for its flip.
    KmsScanout(KmsOutput* output, gbm_surface* surface, int flip_timeout_ms);

    KmsScanout(const KmsScanout&) = delete;
    KmsScanout& operator=(const KmsScanout&) = delete;

    // Called after each eglSwapBuffers: shows the new front buffer.
    void present();

    const KmsScanoutStats& stats() const { return counts; }

  private:
    uint32_t framebufferOf(gbm_bo* bo);
    bool setMode(gbm_bo* bo, uint32_t framebuffer);
    bool flipTo(gbm_bo* bo, uint32_t framebuffer);
    void waitForFlip(int timeout_ms);
    void flipDone(gbm_bo* bo);
    void showInstead(gbm_bo* bo);
    void refused(const char* what, int error);
    static void onFlip(int fd, unsigned int frame, unsigned int sec, unsigned int usec, void* data);

    KmsOutput* output;
    gbm_surface* surface;
    const int flip_timeout_ms;
    gbm_bo* shown = nullptr;      // the buffer on the screen now
    gbm_bo* in_flight = nullptr;  // the buffer of the flip not yet completed, if any
    long in_flight_since_ms = 0;
    bool crtc_set = false;
    bool waiting = false;  // a wait for the flip in flight is under way
    bool told_refused = false;
    bool told_late = false;
    bool told_framebuffer = false;
    drmEventContext events = {};
    KmsScanoutStats counts;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
