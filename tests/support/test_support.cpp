#include "support/test_support.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace LumetraTest {

TempWorkDir::TempWorkDir() {
    char templ[] = "/tmp/lumetra-test-XXXXXX";
    if (mkdtemp(templ) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir = templ;
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
    runCommand("rm -rf '" + dir + "'");
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

void writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba) {
    stbi_write_png(path.c_str(), width, height, 4, rgba.data(), width * 4);
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

}  // namespace LumetraTest
