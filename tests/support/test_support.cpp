#include "support/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <stdlib.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace LumetraTest {

ScratchDir::ScratchDir() {
    char templ[] = "/tmp/lumetra-test-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir = templ;
}

ScratchDir::~ScratchDir() {
    runCommand("rm -rf '" + dir + "'");
}

TempWorkDir::TempWorkDir() {
    char cwd[4096];
    if (getcwd(cwd, sizeof(cwd)) != nullptr) {
        previous = cwd;
    }
    runCommand("mkdir -p '" + dir + "/textures'");
    if (chdir(dir.c_str()) != 0) {
        throw std::runtime_error("chdir failed");
    }
}

TempWorkDir::~TempWorkDir() {
    if (!previous.empty() && chdir(previous.c_str()) != 0) {
        std::perror("chdir back");
    }
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

int runCommand(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0) {
        output.append(chunk, n);
    }
    pclose(pipe);
    return output;
}

void useOffscreenDisplay(int width, int height) {
    setenv("LUMETRA_DISPLAY", "headless", 1);
    setenv("LUMETRA_SCREEN", (std::to_string(width) + "x" + std::to_string(height)).c_str(), 1);
    setenv("LUMETRA_REFRESH", "1000", 1);  // tests should not wait for a display's pace
}

XvfbDisplay::XvfbDisplay(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) {
        return;
    }
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid = fork();
    if (pid == 0) {
        // The number comes back on descriptor 3, and nothing else of the test's stays
        // open: a pipe it holds would keep a reader waiting.
        if (dup2(fds[1], 3) != 3) {
            _exit(127);
        }
        for (int other = 4; other < 1024; ++other) {
            close(other);
        }
        const std::string fd = "3";
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    // Xvfb writes its display number and a newline, maybe in pieces, once it accepts
    // clients; it ends itself when it cannot write them all.
    char number[16] = {0};
    size_t got = 0;
    while (pid > 0 && got < sizeof(number) - 1 && std::strchr(number, '\n') == nullptr) {
        const ssize_t n = read(fds[0], number + got, sizeof(number) - 1 - got);
        if (n == 0 || (n < 0 && errno != EINTR)) {
            break;
        }
        got += n > 0 ? static_cast<size_t>(n) : 0;
    }
    close(fds[0]);
    if (std::strchr(number, '\n') == nullptr) {
        if (pid > 0) {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
        return;
    }
    setenv("DISPLAY", (":" + std::string(number, std::strcspn(number, "\n"))).c_str(), 1);
    setenv("LUMETRA_DISPLAY", "x11", 1);
}

XvfbDisplay::~XvfbDisplay() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        unsetenv("DISPLAY");
    }
}

void writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4);
}

void writeStill(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    const std::string temporary = path + ".part";
    const std::string ext = path.substr(path.find_last_of('.') + 1);
    const char* name = temporary.c_str();
    if (ext == "jpg" || ext == "jpeg" || ext == "JPG") {
        // ImageMagick's encoder, as a camera's would be: stb's is not clean under UBSan.
        stbi_write_png(name, width, height, 4, rgba.data(), width * 4);
        if (runCommand("convert png:" + temporary + " -quality 95 jpg:" + temporary) != 0) {
            throw std::runtime_error("convert could not write " + temporary);
        }
    } else if (ext == "bmp") {
        stbi_write_bmp(name, width, height, 4, rgba.data());
    } else if (ext == "tga") {
        stbi_write_tga(name, width, height, 4, rgba.data());
    } else {
        stbi_write_png(name, width, height, 4, rgba.data(), width * 4);
    }
    if (std::rename(name, path.c_str()) != 0) {
        throw std::runtime_error("cannot rename " + temporary);
    }
}

std::vector<uint8_t> solidRgba(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    std::vector<uint8_t> pixels;
    pixels.reserve(static_cast<size_t>(width) * height * 4);
    for (int i = 0; i < width * height; ++i) {
        pixels.insert(pixels.end(), {r, g, b, 255});
    }
    return pixels;
}

std::vector<uint8_t> artDmx(int sub_uni, int length, const std::vector<uint8_t>& data, int net) {
    std::vector<uint8_t> packet = {'A', 'r', 't', '-', 'N', 'e', 't', 0, 0x00, 0x50, 0, 14, 0, 0};
    packet.push_back(static_cast<uint8_t>(sub_uni));
    packet.push_back(static_cast<uint8_t>(net));
    packet.push_back(static_cast<uint8_t>(length >> 8));
    packet.push_back(static_cast<uint8_t>(length & 0xff));
    packet.insert(packet.end(), data.begin(), data.end());
    return packet;
}

std::vector<uint8_t> artDmx(const std::vector<uint8_t>& data) {
    return artDmx(0, static_cast<int>(data.size()), data);
}

void sendArtDmx(int sub_uni, int start, const std::vector<uint8_t>& channels) {
    std::vector<uint8_t> slots(static_cast<size_t>(start - 1), 0);
    slots.insert(slots.end(), channels.begin(), channels.end());
    const std::vector<uint8_t> packet =
        artDmx(sub_uni & 0xff, static_cast<int>(slots.size()), slots);
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(6454);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof(to));
    close(fd);
}

bool artnetPortTaken() {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(6454);
    const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0;
    close(fd);
    return taken;
}

bool waitForArtnetPortTaken(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!artnetPortTaken()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        usleep(20000);
    }
    return true;
}

bool gles1Offered() {
#if defined(LUMETRA_HAVE_GLES1)
    static const bool offered = [] {
        EGLDisplay display =
            eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) {
            return false;
        }
        const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                            EGL_OPENGL_ES_BIT, EGL_NONE};
        const EGLint context_attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 1, EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        bool created = false;
        if (eglChooseConfig(display, config_attributes, &config, 1, &count) && count == 1) {
            EGLContext context =
                eglCreateContext(display, config, EGL_NO_CONTEXT, context_attributes);
            created = context != EGL_NO_CONTEXT;
            if (created) {
                eglDestroyContext(display, context);
            }
        }
        // Not terminated: that would unload the driver, whose leftovers the leak checker
        // then reports from an unknown module; the renderers' own set-up pins it first.
        return created;
    }();
    return offered;
#else
    return false;
#endif
}

void useGlesVersion(int version) {
    setenv("LUMETRA_GLES", std::to_string(version).c_str(), 1);
}

std::string builtProgram(const std::string& name) {
    return std::string(LUMETRA_BINARY_DIR) + "/" + name;
}

}  // namespace LumetraTest

#include "canvas/frame_snapshot.h"

namespace LumetraTest {

Frame::Pixel Frame::at(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 4;
    return {rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]};
}

Frame readFrame(int width, int height) {
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.rgba.resize(static_cast<size_t>(width) * height * 4);
    Lumetra::FrameSnapshot::readFrame(width, height, frame.rgba.data());
    return frame;
}

bool near(const Frame::Pixel& p, int r, int g, int b, int tolerance) {
    return std::abs(p.r - r) <= tolerance && std::abs(p.g - g) <= tolerance &&
           std::abs(p.b - b) <= tolerance;
}

int startSilentProgram(const std::string& dir, const std::function<void()>& environment) {
    const std::string program = builtProgram("rpi_lumetra");
    // Closed by the child's exec.
    int started[2];
    if (pipe2(started, O_CLOEXEC) != 0) {
        return -1;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        const int log = open("program.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 1);
        dup2(log, 2);
        environment();
        execl(program.c_str(), program.c_str(), "--silent", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(started[1]);
    char byte;
    while (read(started[0], &byte, 1) < 0 && errno == EINTR) {
    }
    close(started[0]);
    return pid;
}

std::vector<uint8_t> centredPicture(int slot, int size) {
    std::vector<uint8_t> channels(20, 0);
    channels[0] = static_cast<uint8_t>(slot);
    channels[1] = 255;  // opacity
    channels[2] = 128;  // the centre
    channels[3] = 128;
    channels[4] = static_cast<uint8_t>(size);
    channels[10] = channels[11] = channels[12] = 255;  // white light
    channels[15] = channels[16] = 127;                 // no spin
    return channels;
}

std::string LitPart::text() const {
    if (!visible) {
        return "nothing visible";
    }
    char line[128];
    std::snprintf(line, sizeof(line), "x %d..%d, y %d..%d, centre rgb %d %d %d", left, right, top,
                  bottom, r, g, b);
    return line;
}

LitPart litPart(const uint8_t* rgba, int width, int height) {
    LitPart lit;
    lit.left = width;
    lit.top = height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = rgba + 4 * (y * width + x);
            if (p[0] > 64 || p[1] > 64 || p[2] > 64) {
                lit.visible = true;
                lit.left = std::min(lit.left, x);
                lit.right = std::max(lit.right, x);
                lit.top = std::min(lit.top, y);
                lit.bottom = std::max(lit.bottom, y);
            }
        }
    }
    if (lit.visible) {
        const uint8_t* p =
            rgba + 4 * (((lit.top + lit.bottom) / 2) * width + (lit.left + lit.right) / 2);
        lit.r = p[0];
        lit.g = p[1];
        lit.b = p[2];
    }
    return lit;
}

}  // namespace LumetraTest
