#pragma once

// Puts the frames of a GBM surface on a KMS screen: the first one with a mode set, every
// later one with a page flip whose completion it waits for, so that the render loop runs
// at the display's pace. Framebuffers are made once per GBM buffer and kept with it, so a
// frame allocates nothing.

#include <gbm.h>
#include <xf86drm.h>

#include <cstdint>

namespace Lumetra {
namespace Platform {
namespace Mesa {

class KmsOutput;

struct KmsScanoutStats {
    unsigned long frames = 0;    // buffers handed to the display
    unsigned long flips = 0;     // page-flip events received
    unsigned long failures = 0;  // mode set, flip or framebuffer refused
};

class KmsScanout {
  public:
    // The buffers belong to the EGL surface on `surface`: destroying that surface frees
    // them and their framebuffers, so this object never gives them back itself.
    KmsScanout(KmsOutput* output, gbm_surface* surface);

    KmsScanout(const KmsScanout&) = delete;
    KmsScanout& operator=(const KmsScanout&) = delete;

    // Called after each eglSwapBuffers: shows the new front buffer.
    void present();

    const KmsScanoutStats& stats() const { return counts; }

  private:
    uint32_t framebufferOf(gbm_bo* bo);
    bool flipTo(uint32_t framebuffer);
    bool waitForFlip();
    static void onFlip(int fd, unsigned int frame, unsigned int sec, unsigned int usec, void* data);

    KmsOutput* output;
    gbm_surface* surface;
    gbm_bo* shown = nullptr;  // the buffer on the screen now
    bool crtc_set = false;
    bool flip_pending = false;
    drmEventContext events = {};
    KmsScanoutStats counts;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
