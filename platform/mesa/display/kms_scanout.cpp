#include "platform/mesa/display/kms_scanout.h"

#include <drm_fourcc.h>
#include <poll.h>
#include <time.h>
#include <xf86drmMode.h>

#include <cerrno>

#include "platform/mesa/display/kms_output.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

// A flip event that has not come after this long will not come (the output went away, or
// another master took the card); the loop goes on rather than hang.
const int kFlipTimeoutMs = 1000;
// What a refused frame costs instead of a flip, so that the loop does not spin.
const long kRefusedFrameNs = 16000000L;

struct Framebuffer {
    int fd;
    uint32_t id;
};

void removeFramebuffer(gbm_bo*, void* data) {
    Framebuffer* framebuffer = static_cast<Framebuffer*>(data);
    drmModeRmFB(framebuffer->fd, framebuffer->id);
    delete framebuffer;
}

void restAFrame() {
    struct timespec pause = {0, kRefusedFrameNs};
    nanosleep(&pause, nullptr);
}

long millisecondsSince(const struct timespec& start) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
}

}  // namespace

KmsScanout::KmsScanout(KmsOutput* o, gbm_surface* s) : output(o), surface(s) {
    events.version = 2;
    events.page_flip_handler = onFlip;
}

void KmsScanout::onFlip(int, unsigned int, unsigned int, unsigned int, void* data) {
    KmsScanout* self = static_cast<KmsScanout*>(data);
    self->flip_pending = false;
    self->counts.flips++;
}

// Framebuffers live as long as their buffer: made the first time GBM hands the buffer
// out, removed when GBM destroys it.
uint32_t KmsScanout::framebufferOf(gbm_bo* bo) {
    Framebuffer* known = static_cast<Framebuffer*>(gbm_bo_get_user_data(bo));
    if (known != nullptr) {
        return known->id;
    }
    // Scanned out as XRGB whatever the GL config's alpha: the screen is opaque.
    const uint32_t handles[4] = {gbm_bo_get_handle(bo).u32, 0, 0, 0};
    const uint32_t pitches[4] = {gbm_bo_get_stride(bo), 0, 0, 0};
    const uint32_t offsets[4] = {0, 0, 0, 0};
    uint32_t id = 0;
    if (drmModeAddFB2(output->fd(), gbm_bo_get_width(bo), gbm_bo_get_height(bo),
                      DRM_FORMAT_XRGB8888, handles, pitches, offsets, &id, 0) != 0) {
        return 0;
    }
    gbm_bo_set_user_data(bo, new Framebuffer{output->fd(), id}, removeFramebuffer);
    return id;
}

void KmsScanout::present() {
    gbm_bo* bo = gbm_surface_lock_front_buffer(surface);
    if (bo == nullptr) {
        counts.failures++;
        restAFrame();
        return;
    }
    const uint32_t framebuffer = framebufferOf(bo);
    bool shown_now = false;
    if (framebuffer == 0) {
        shown_now = false;
    } else if (!crtc_set) {
        uint32_t connector = output->connectorId();
        shown_now = drmModeSetCrtc(output->fd(), output->crtcId(), framebuffer, 0, 0, &connector, 1,
                                   output->mode()) == 0;
        crtc_set = shown_now;
    } else {
        shown_now = flipTo(framebuffer) && waitForFlip();
    }
    if (!shown_now) {
        gbm_surface_release_buffer(surface, bo);
        counts.failures++;
        restAFrame();
        return;
    }
    if (shown != nullptr) {
        gbm_surface_release_buffer(surface, shown);  // the flip has put it off the screen
    }
    shown = bo;
    counts.frames++;
}

bool KmsScanout::flipTo(uint32_t framebuffer) {
    if (drmModePageFlip(output->fd(), output->crtcId(), framebuffer, DRM_MODE_PAGE_FLIP_EVENT,
                        this) != 0) {
        return false;
    }
    flip_pending = true;
    return true;
}

// Waits for the flip's event; the new buffer is on the screen once it has come.
bool KmsScanout::waitForFlip() {
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (flip_pending) {
        const long left = kFlipTimeoutMs - millisecondsSince(start);
        if (left <= 0) {
            // The kernel may still complete it; forget it rather than wait forever.
            flip_pending = false;
            return false;
        }
        struct pollfd ready = {output->fd(), POLLIN, 0};
        const int n = poll(&ready, 1, static_cast<int>(left));
        if (n < 0 && errno != EINTR) {
            flip_pending = false;
            return false;
        }
        if (n > 0 && drmHandleEvent(output->fd(), &events) != 0) {
            flip_pending = false;
            return false;
        }
    }
    return true;
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
