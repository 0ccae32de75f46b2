#include "platform/mesa/display/kms_output.h"

#include <fcntl.h>
#include <unistd.h>
#include <xf86drm.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

const unsigned long kMaxSide = 16384;
const unsigned long kMaxRefresh = 1000;
const int kMaxCards = 16;

bool parseNumber(const char** text, unsigned long max, uint32_t* value) {
    if (**text < '0' || **text > '9') {
        return false;
    }
    char* end = nullptr;
    unsigned long n = std::strtoul(*text, &end, 10);
    if (n == 0 || n > max) {
        return false;
    }
    *value = static_cast<uint32_t>(n);
    *text = end;
    return true;
}

std::string nameOf(const drmModeConnector* connector) {
    const char* type = drmModeGetConnectorTypeName(connector->connector_type);
    return std::string(type != nullptr ? type : "Unknown") + "-" +
           std::to_string(connector->connector_type_id);
}

bool modeMatches(const drmModeModeInfo& mode, const KmsModeRequest& request) {
    return mode.hdisplay == request.width && mode.vdisplay == request.height &&
           (request.refresh == 0 || mode.vrefresh == request.refresh);
}

}  // namespace

bool parseKmsMode(const char* text, KmsModeRequest* request) {
    KmsModeRequest parsed;
    if (!parseNumber(&text, kMaxSide, &parsed.width) || *text++ != 'x' ||
        !parseNumber(&text, kMaxSide, &parsed.height)) {
        return false;
    }
    if (*text == '@' && !parseNumber(&(++text), kMaxRefresh, &parsed.refresh)) {
        return false;
    }
    if (*text != '\0') {
        return false;
    }
    *request = parsed;
    return true;
}

KmsOutput::~KmsOutput() {
    close();
}

bool KmsOutput::open(const std::string& device, const std::string& connector, const char* mode) {
    if (!device.empty()) {
        return openCard(device, connector, mode);
    }
    // Cards come and go in any order (a Pi 5 has a render-only V3D beside the display):
    // take the first with a connected screen, and keep the most telling reason otherwise.
    std::string first_reason;
    for (int i = 0; i < kMaxCards; ++i) {
        const std::string path = "/dev/dri/card" + std::to_string(i);
        if (access(path.c_str(), F_OK) != 0) {
            continue;
        }
        if (openCard(path, connector, mode)) {
            return true;
        }
        if (first_reason.empty()) {
            first_reason = reason;
        }
    }
    reason = first_reason.empty() ? "/dev/dri: no DRM card" : first_reason;
    return false;
}

bool KmsOutput::fail(const std::string& path, const std::string& why) {
    reason = path + ": " + why;
    if (card_fd >= 0) {
        ::close(card_fd);
        card_fd = -1;
    }
    return false;
}

bool KmsOutput::openCard(const std::string& path, const std::string& connector, const char* mode) {
    card_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (card_fd < 0) {
        const int error = errno;
        return fail(path, std::string("cannot open: ") + std::strerror(error) +
                              (error == EACCES ? " (needs the video group or root)" : ""));
    }
    drmModeRes* resources = drmModeGetResources(card_fd);
    if (resources == nullptr || resources->count_crtcs == 0) {
        drmModeFreeResources(resources);
        return fail(path, "no KMS display on this card");
    }
    bool chosen = chooseConnector(card_fd, resources, connector, mode);
    drmModeFreeResources(resources);
    if (!chosen) {
        return fail(path, reason);
    }
    if (!drmIsMaster(card_fd) && drmSetMaster(card_fd) != 0) {
        return fail(path, "not DRM master: another program (a desktop session?) owns the screen");
    }
    saved_crtc = drmModeGetCrtc(card_fd, crtc_id);
    device_path = path;
    reason.clear();
    return true;
}

bool KmsOutput::chooseConnector(int fd, drmModeRes* resources, const std::string& wanted,
                                const char* mode) {
    reason = wanted.empty() ? "no connected connector" : "no connector " + wanted;
    bool connected_seen = false;
    for (int i = 0; i < resources->count_connectors; ++i) {
        drmModeConnector* connector = drmModeGetConnector(fd, resources->connectors[i]);
        if (connector == nullptr) {
            continue;
        }
        const std::string name = nameOf(connector);
        const bool connected =
            connector->connection == DRM_MODE_CONNECTED && connector->count_modes > 0;
        bool done = false;
        if (wanted.empty() ? connected : name == wanted) {
            connected_seen = true;
            connector_name = name;
            connector_id = connector->connector_id;
            if (!connected) {
                reason = "connector " + name + " is not connected";
            } else if (chooseMode(connector, mode) && chooseCrtc(fd, resources, connector)) {
                done = true;
            }
        }
        drmModeFreeConnector(connector);
        if (done || connected_seen) {
            return done;
        }
    }
    return false;
}

bool KmsOutput::chooseMode(drmModeConnector* connector, const char* wanted) {
    int pick = -1;
    if (wanted != nullptr && *wanted != '\0') {
        KmsModeRequest request;
        if (!parseKmsMode(wanted, &request)) {
            reason = std::string("LUMETRA_MODE '") + wanted + "' is not WIDTHxHEIGHT[@HZ]";
            return false;
        }
        for (int i = 0; i < connector->count_modes && pick < 0; ++i) {
            if (modeMatches(connector->modes[i], request)) {
                pick = i;
            }
        }
        if (pick < 0) {
            reason = "connector " + connector_name + " has no mode " + wanted;
            return false;
        }
    } else {
        pick = 0;  // drivers list the preferred mode first; take it wherever it is
        for (int i = 0; i < connector->count_modes; ++i) {
            if (connector->modes[i].type & DRM_MODE_TYPE_PREFERRED) {
                pick = i;
                break;
            }
        }
    }
    chosen_mode = connector->modes[pick];
    return true;
}

bool KmsOutput::chooseCrtc(int fd, drmModeRes* resources, drmModeConnector* connector) {
    // The CRTC already driving this connector keeps the console's set-up; else the first
    // CRTC one of its encoders can reach.
    if (connector->encoder_id != 0) {
        drmModeEncoder* encoder = drmModeGetEncoder(fd, connector->encoder_id);
        if (encoder != nullptr && encoder->crtc_id != 0) {
            crtc_id = encoder->crtc_id;
            drmModeFreeEncoder(encoder);
            return true;
        }
        drmModeFreeEncoder(encoder);
    }
    for (int e = 0; e < connector->count_encoders; ++e) {
        drmModeEncoder* encoder = drmModeGetEncoder(fd, connector->encoders[e]);
        if (encoder == nullptr) {
            continue;
        }
        for (int c = 0; c < resources->count_crtcs; ++c) {
            if (encoder->possible_crtcs & (1u << c)) {
                crtc_id = resources->crtcs[c];
                drmModeFreeEncoder(encoder);
                return true;
            }
        }
        drmModeFreeEncoder(encoder);
    }
    reason = "no CRTC can drive connector " + connector_name;
    return false;
}

void KmsOutput::close() {
    if (card_fd < 0) {
        return;
    }
    if (saved_crtc != nullptr && saved_crtc->mode_valid && saved_crtc->buffer_id != 0) {
        drmModeSetCrtc(card_fd, saved_crtc->crtc_id, saved_crtc->buffer_id, saved_crtc->x,
                       saved_crtc->y, &connector_id, 1, &saved_crtc->mode);
    } else if (saved_crtc != nullptr) {
        // Nothing was shown before us: switch the output off rather than leave our last
        // frame, whose buffer is about to go.
        drmModeSetCrtc(card_fd, saved_crtc->crtc_id, 0, 0, 0, nullptr, 0, nullptr);
    }
    drmModeFreeCrtc(saved_crtc);
    saved_crtc = nullptr;
    ::close(card_fd);
    card_fd = -1;
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
