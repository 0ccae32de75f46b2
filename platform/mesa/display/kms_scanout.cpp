#include "platform/mesa/display/kms_scanout.h"

#include <drm_fourcc.h>
#include <poll.h>
#include <time.h>
#include <xf86drmMode.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/log.h"
#include "platform/mesa/display/kms_output.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

// What a frame that shows nothing costs instead of a flip, so that the loop does not spin.
const long kRestMs = 16;
// A flip whose event has not come after this long is taken for lost (the output went
// away): the next frame sets the mode instead, which replaces whatever the flip would
// have shown.
const long kLostFlipMs = 3000;

// Made once per buffer and kept as its GBM user data: the buffer's framebuffer, and who
// shows it, for the flip events that name the buffer.
struct Framebuffer {
    int fd;
    uint32_t id;
    KmsScanout* owner;
};

void removeFramebuffer(gbm_bo*, void* data) {
    Framebuffer* framebuffer = static_cast<Framebuffer*>(data);
    drmModeRmFB(framebuffer->fd, framebuffer->id);
    delete framebuffer;
}

void rest() {
    struct timespec pause = {0, kRestMs * 1000000L};
    nanosleep(&pause, nullptr);
}

long nowMs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

// The screen is opaque: alpha means nothing on the primary plane, and some planes take
// only the opaque twin of a format.
uint32_t opaqueTwin(uint32_t format) {
    switch (format) {
        case DRM_FORMAT_ARGB8888:
            return DRM_FORMAT_XRGB8888;
        case DRM_FORMAT_ABGR8888:
            return DRM_FORMAT_XBGR8888;
        case DRM_FORMAT_RGBA8888:
            return DRM_FORMAT_RGBX8888;
        case DRM_FORMAT_BGRA8888:
            return DRM_FORMAT_BGRX8888;
        case DRM_FORMAT_ARGB2101010:
            return DRM_FORMAT_XRGB2101010;
        case DRM_FORMAT_ABGR2101010:
            return DRM_FORMAT_XBGR2101010;
        default:
            return format;
    }
}

}  // namespace

KmsScanout::KmsScanout(KmsOutput* o, gbm_surface* s, int timeout_ms)
    : output(o), surface(s), flip_timeout_ms(timeout_ms) {
    events.version = 2;
    events.page_flip_handler = onFlip;
}

// The event's user data is the buffer its flip put on the screen.
void KmsScanout::onFlip(int, unsigned int, unsigned int, unsigned int, void* data) {
    gbm_bo* bo = static_cast<gbm_bo*>(data);
    Framebuffer* framebuffer = static_cast<Framebuffer*>(gbm_bo_get_user_data(bo));
    if (framebuffer != nullptr) {
        framebuffer->owner->flipDone(bo);
    }
}

void KmsScanout::flipDone(gbm_bo* bo) {
    counts.flips++;
    if (!waiting) {
        counts.late_flips++;
    }
    if (bo != in_flight) {
        return;  // a flip given up for lost, superseded by a mode set since
    }
    in_flight = nullptr;
    showInstead(bo);
}

// `bo` is on the screen now: the one shown before is off it for good and goes back to GBM.
void KmsScanout::showInstead(gbm_bo* bo) {
    if (shown != nullptr && shown != bo) {
        gbm_surface_release_buffer(surface, shown);
    }
    shown = bo;
}

// Framebuffers live as long as their buffer: made the first time GBM hands the buffer
// out, removed when GBM destroys it. Format, layout (modifier) and planes are the
// buffer's own; a driver that takes no modifiers gets the buffer without them.
uint32_t KmsScanout::framebufferOf(gbm_bo* bo) {
    Framebuffer* known = static_cast<Framebuffer*>(gbm_bo_get_user_data(bo));
    if (known != nullptr) {
        return known->id;
    }
    uint32_t handles[4] = {0, 0, 0, 0};
    uint32_t pitches[4] = {0, 0, 0, 0};
    uint32_t offsets[4] = {0, 0, 0, 0};
    uint64_t modifiers[4] = {0, 0, 0, 0};
    const uint64_t modifier = gbm_bo_get_modifier(bo);
    const int planes = gbm_bo_get_plane_count(bo);
    for (int i = 0; i < planes && i < 4; ++i) {
        handles[i] = gbm_bo_get_handle_for_plane(bo, i).u32;
        pitches[i] = gbm_bo_get_stride_for_plane(bo, i);
        offsets[i] = gbm_bo_get_offset(bo, i);
        modifiers[i] = modifier;
    }
    const uint32_t format = opaqueTwin(gbm_bo_get_format(bo));
    const uint32_t width = gbm_bo_get_width(bo);
    const uint32_t height = gbm_bo_get_height(bo);
    uint32_t id = 0;
    int result = -1;
    if (modifier != DRM_FORMAT_MOD_INVALID) {
        result = drmModeAddFB2WithModifiers(output->fd(), width, height, format, handles, pitches,
                                            offsets, modifiers, &id, DRM_MODE_FB_MODIFIERS);
    }
    if (result != 0) {
        result =
            drmModeAddFB2(output->fd(), width, height, format, handles, pitches, offsets, &id, 0);
    }
    if (result != 0) {
        if (!told_framebuffer) {
            told_framebuffer = true;
            logLine(LogLevel::Warning,
                    "kms: %s: no framebuffer for a %ux%u buffer of format "
                    "%.4s, modifier 0x%llx (%s)",
                    output->device().c_str(), width, height, reinterpret_cast<const char*>(&format),
                    static_cast<unsigned long long>(modifier), std::strerror(errno));
        }
        return 0;
    }
    gbm_bo_set_user_data(bo, new Framebuffer{output->fd(), id, this}, removeFramebuffer);
    return id;
}

void KmsScanout::present() {
    if (in_flight != nullptr) {
        waitForFlip(0);  // a flip given up on earlier may have completed meanwhile
    }
    gbm_bo* bo = gbm_surface_lock_front_buffer(surface);
    if (bo == nullptr) {
        counts.failures++;
        rest();
        return;
    }
    if (in_flight != nullptr && nowMs() - in_flight_since_ms > kLostFlipMs) {
        crtc_set = false;  // lost: a mode set takes the screen over, whatever became of it
    }
    if (in_flight != nullptr && crtc_set) {
        // The kernel takes no flip before the last one completes, and both buffers it
        // involves may still be scanned out: this frame is not shown.
        gbm_surface_release_buffer(surface, bo);
        counts.dropped++;
        waitForFlip(kRestMs);
        return;
    }
    const uint32_t framebuffer = framebufferOf(bo);
    const bool shown_now =
        framebuffer != 0 && (crtc_set ? flipTo(bo, framebuffer) : setMode(bo, framebuffer));
    if (!shown_now) {
        gbm_surface_release_buffer(surface, bo);  // never handed to the kernel
        counts.failures += framebuffer == 0 ? 1 : 0;
        rest();
        return;
    }
    counts.frames++;
    if (in_flight != nullptr) {
        waiting = true;
        waitForFlip(flip_timeout_ms);
        waiting = false;
        if (in_flight != nullptr && !told_late) {
            told_late = true;
            logLine(LogLevel::Warning,
                    "kms: %s: a page flip has not completed after %d ms (%s); its "
                    "buffer stays held until it does",
                    output->device().c_str(), flip_timeout_ms, std::strerror(ETIMEDOUT));
        }
    }
}

// After the screen was lost the kernel lets the program that was its master take it back;
// while another program holds it, this and the mode set are refused and cost a frame.
bool KmsScanout::setMode(gbm_bo* bo, uint32_t framebuffer) {
    if (counts.mode_sets > 0) {
        drmSetMaster(output->fd());
    }
    uint32_t connector = output->connectorId();
    if (drmModeSetCrtc(output->fd(), output->crtcId(), framebuffer, 0, 0, &connector, 1,
                       output->mode()) != 0) {
        refused("mode set", errno);
        return false;
    }
    crtc_set = true;
    counts.mode_sets++;
    if (in_flight != nullptr) {
        // The lost flip's buffer is off the screen now; its event, should it come, is
        // ignored.
        gbm_surface_release_buffer(surface, in_flight);
        in_flight = nullptr;
    }
    showInstead(bo);
    return true;
}

bool KmsScanout::flipTo(gbm_bo* bo, uint32_t framebuffer) {
    if (drmModePageFlip(output->fd(), output->crtcId(), framebuffer, DRM_MODE_PAGE_FLIP_EVENT,
                        bo) != 0) {
        refused("page flip", errno);
        return false;
    }
    in_flight = bo;
    in_flight_since_ms = nowMs();
    return true;
}

// Another master, a switch away or a lost output: the next frames set the mode again.
void KmsScanout::refused(const char* what, int error) {
    counts.failures++;
    crtc_set = false;
    if (!told_refused) {
        told_refused = true;
        logLine(LogLevel::Warning,
                "kms: %s: %s refused (%s); the screen is taken back with a mode "
                "set as soon as it can be",
                output->device().c_str(), what, std::strerror(error));
    }
}

// Handles flip events for up to `timeout_ms`, or until the flip in flight has completed.
void KmsScanout::waitForFlip(int timeout_ms) {
    const long deadline = nowMs() + timeout_ms;
    while (in_flight != nullptr) {
        const long left = deadline - nowMs();
        struct pollfd ready = {output->fd(), POLLIN, 0};
        const int n = poll(&ready, 1, left > 0 ? static_cast<int>(left) : 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || drmHandleEvent(output->fd(), &events) != 0 || left <= 0) {
            return;
        }
    }
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
