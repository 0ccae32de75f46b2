// Stands in for the Linux text console in the KMS guest, and reports what the screen shows.
//
//   kms_probe console R G B   shows a dumb buffer of that colour on the first connected
//                             connector, gives up DRM master (as the console does when a
//                             program takes the screen) and waits for SIGTERM
//   kms_probe state           prints "fb=N WxH" of that connector's CRTC ("fb=0" when off)
//   kms_probe steal PID SECONDS R G B
//                             takes the screen from process PID as another program would
//                             on a VT switch (logind drops the master of the fd it gave
//                             out): drops DRM master on PID's own file of card0, becomes
//                             master, shows that colour for SECONDS, then lets go

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <xf86drm.h>
#include <xf86drmMode.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// Shows a dumb buffer of one colour on the screen; its framebuffer, 0 when refused.
uint32_t showColour(Screen& s, unsigned r, unsigned g, unsigned b) {
    drmModeModeInfo mode = s.connector->modes[0];
    drm_mode_create_dumb create = {};
    create.width = mode.hdisplay;
    create.height = mode.vdisplay;
    create.bpp = 32;
    if (drmIoctl(s.fd, DRM_IOCTL_MODE_CREATE_DUMB, &create) != 0) {
        return 0;
    }
    drm_mode_map_dumb map = {};
    map.handle = create.handle;
    drmIoctl(s.fd, DRM_IOCTL_MODE_MAP_DUMB, &map);
    uint32_t* pixels = static_cast<uint32_t*>(
        mmap(nullptr, create.size, PROT_READ | PROT_WRITE, MAP_SHARED, s.fd, map.offset));
    if (pixels == MAP_FAILED) {
        return 0;
    }
    for (uint64_t i = 0; i < create.size / 4; ++i) {
        pixels[i] = (r << 16) | (g << 8) | b;
    }
    uint32_t fb = 0;
    if (drmModeAddFB(s.fd, create.width, create.height, 24, 32, create.pitch, create.handle, &fb) !=
            0 ||
        drmModeSetCrtc(s.fd, s.crtc, fb, 0, 0, &s.connector->connector_id, 1, &mode) != 0) {
        return 0;
    }
    return fb;
}

int showConsole(Screen& s, unsigned r, unsigned g, unsigned b) {
    const uint32_t fb = showColour(s, r, g, b);
    if (fb == 0) {
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

// The file of card0 that process `pid` holds, duplicated into this process.
int cardFileOf(pid_t pid) {
    const int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        return -1;
    }
    int found = -1;
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd/";
    for (int fd = 0; fd < 1024 && found < 0; ++fd) {
        char target[64] = {};
        if (readlink((dir + std::to_string(fd)).c_str(), target, sizeof(target) - 1) > 0 &&
            std::strcmp(target, "/dev/dri/card0") == 0) {
            found = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, fd, 0));
        }
    }
    close(pidfd);
    return found;
}

int steal(Screen& s, pid_t pid, unsigned seconds, unsigned r, unsigned g, unsigned b) {
    const int theirs = cardFileOf(pid);
    if (theirs < 0 || drmDropMaster(theirs) != 0) {
        std::fprintf(stderr, "kms_probe: cannot drop the master of %d's card0\n", pid);
        return 1;
    }
    close(theirs);
    if (drmSetMaster(s.fd) != 0 || showColour(s, r, g, b) == 0) {
        std::fprintf(stderr, "kms_probe: cannot take the screen\n");
        return 1;
    }
    sleep(seconds);
    return 0;  // closing the card lets go of the screen
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
    if (argc == 7 && std::strcmp(argv[1], "steal") == 0) {
        return steal(screen, std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]) & 255,
                     std::atoi(argv[5]) & 255, std::atoi(argv[6]) & 255);
    }
    std::fprintf(stderr,
                 "usage: kms_probe console R G B | kms_probe state | "
                 "kms_probe steal PID SECONDS R G B\n");
    return 2;
}
