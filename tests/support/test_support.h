#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace LumetraTest {

// A fresh temporary directory that becomes the working directory for the test's lifetime;
// it holds an empty textures/ directory. Removed (and the old directory restored) on exit.
class TempWorkDir {
  public:
    TempWorkDir();
    ~TempWorkDir();
    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

  private:
    std::string dir;
    std::string previous;
};

// Writes `text` to `path`, replacing it.
void writeFile(const std::string& path, const std::string& text);
std::string readFile(const std::string& path);

// Runs a shell command; returns its exit status (-1 if it could not run).
int runCommand(const std::string& command);
// Runs a shell command and returns what it printed on stdout.
std::string commandOutput(const std::string& command);

// Offscreen display of the given size for renderers created in this process.
void useOffscreenDisplay(int width, int height);

// True when this build can draw with OpenGL ES 1.x and the driver gives such a context
// (Debian 12's Mesa does, Debian 13's refuses it).
bool gles1Offered();
// Renderers created from here on draw with OpenGL ES `version` (1 or 2).
void useGlesVersion(int version);

// Writes an RGBA PNG (rows top first).
void writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);

// Path of a program built with the project (e.g. "rpi_lumetra").
std::string builtProgram(const std::string& name);

}  // namespace LumetraTest

namespace LumetraTest {

// An RGBA frame read back from the output, top row first.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    struct Pixel {
        int r, g, b, a;
    };
    Pixel at(int x, int y) const;
};

// Reads what the current GL framebuffer holds.
Frame readFrame(int width, int height);

// True when every channel of `p` is within `tolerance` of (r, g, b).
bool near(const Frame::Pixel& p, int r, int g, int b, int tolerance = 3);

}  // namespace LumetraTest
