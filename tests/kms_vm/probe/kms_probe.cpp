// Stands in for the Linux text console in the KMS guest, and reports what the screen shows.
//
//   kms_probe console R G B   shows a dumb buffer of that colour on the first connected
//                             connector, gives up DRM master (as the console does when a
//                             program takes the screen) and waits for SIGTERM
//   kms_probe state           prints "fb=N WxH" of that connector's CRTC ("fb=0" when off)

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Screen {
    int fd = -1;
    drmModeConnector* connector = nullptr;
    uint32_t crtc = 0;
};

bool findScreen(Screen* screen) {
    screen->fd = open("/dev/dri/card0", O_RDWR | O_CLOEXEC);
    drmModeRes* res = screen->fd < 0 ? nullptr : drmModeGetResources(screen->fd);
    if (res == nullptr) {
        return false;
    }
    for (int i = 0; i < res->count_connectors && screen->connector == nullptr; ++i) {
        drmModeConnector* c = drmModeGetConnector(screen->fd, res->connectors[i]);
        if (c != nullptr && c->connection == DRM_MODE_CONNECTED && c->count_modes > 0) {
            screen->connector = c;
        } else {
            drmModeFreeConnector(c);
        }
    }
    screen->crtc = res->count_crtcs > 0 ? res->crtcs[0] : 0;
    drmModeFreeResources(res);
    return screen->connector != nullptr;
}

int showConsole(Screen& s, unsigned r, unsigned g, unsigned b) {
    drmModeModeInfo mode = s.connector->modes[0];
    drm_mode_create_dumb create = {};
    create.width = mode.hdisplay;
    create.height = mode.vdisplay;
    create.bpp = 32;
    if (drmIoctl(s.fd, DRM_IOCTL_MODE_CREATE_DUMB, &create) != 0) {
        return 1;
    }
    drm_mode_map_dumb map = {};
    map.handle = create.handle;
    drmIoctl(s.fd, DRM_IOCTL_MODE_MAP_DUMB, &map);
    uint32_t* pixels = static_cast<uint32_t*>(
        mmap(nullptr, create.size, PROT_READ | PROT_WRITE, MAP_SHARED, s.fd, map.offset));
    if (pixels == MAP_FAILED) {
        return 1;
    }
    for (uint64_t i = 0; i < create.size / 4; ++i) {
        pixels[i] = (r << 16) | (g << 8) | b;
    }
    uint32_t fb = 0;
    if (drmModeAddFB(s.fd, create.width, create.height, 24, 32, create.pitch, create.handle, &fb) !=
            0 ||
        drmModeSetCrtc(s.fd, s.crtc, fb, 0, 0, &s.connector->connector_id, 1, &mode) != 0) {
        return 1;
    }
    drmDropMaster(s.fd);
    std::printf("console fb=%u\n", fb);
    std::fflush(stdout);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    int sig = 0;
    sigwait(&set, &sig);
    return 0;
}

int printState(Screen& s) {
    drmModeEncoder* encoder =
        s.connector->encoder_id != 0 ? drmModeGetEncoder(s.fd, s.connector->encoder_id) : nullptr;
    uint32_t crtc_id = encoder != nullptr && encoder->crtc_id != 0 ? encoder->crtc_id : s.crtc;
    drmModeFreeEncoder(encoder);
    drmModeCrtc* crtc = drmModeGetCrtc(s.fd, crtc_id);
    if (crtc == nullptr) {
        return 1;
    }
    std::printf("fb=%u %ux%u\n", crtc->buffer_id, crtc->mode_valid ? crtc->mode.hdisplay : 0,
                crtc->mode_valid ? crtc->mode.vdisplay : 0);
    drmModeFreeCrtc(crtc);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Screen screen;
    if (!findScreen(&screen)) {
        std::fprintf(stderr, "kms_probe: no connected screen on /dev/dri/card0\n");
        return 1;
    }
    if (argc == 5 && std::strcmp(argv[1], "console") == 0) {
        return showConsole(screen, std::atoi(argv[2]) & 255, std::atoi(argv[3]) & 255,
                           std::atoi(argv[4]) & 255);
    }
    if (argc == 2 && std::strcmp(argv[1], "state") == 0) {
        return printState(screen);
    }
    std::fprintf(stderr, "usage: kms_probe console R G B | kms_probe state\n");
    return 2;
}
