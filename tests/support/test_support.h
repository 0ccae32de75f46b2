#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace LumetraTest {

// A fresh temporary directory, removed with everything in it when the object goes.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

  protected:
    std::string dir;
};

// A scratch directory that becomes the working directory for the test's lifetime; it holds
// an empty textures/ directory. The old working directory comes back on exit.
class TempWorkDir : public ScratchDir {
  public:
    TempWorkDir();
    ~TempWorkDir();

  private:
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

// An Xvfb server of its own with one screen of the given size; while it lives, renderers
// created in this process open their window on it. running() is false when none started.
class XvfbDisplay {
  public:
    XvfbDisplay(int width, int height);
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;
    bool running() const { return pid > 0; }

  private:
    int pid = -1;
};

// True when this build can draw with OpenGL ES 1.x and the driver gives such a context
// (Debian 12's Mesa does, Debian 13's refuses it).
bool gles1Offered();
// Renderers created from here on draw with OpenGL ES `version` (1 or 2).
void useGlesVersion(int version);

// One canvas's 20 channels: picture `slot` at the centre, fully opaque, white light, no spin,
// `size` (channel 4) wide.
std::vector<uint8_t> centredPicture(int slot, int size);

// The lit part of a frame (a pixel with any channel above 64): its bounding box and the
// colour at its centre.
struct LitPart {
    bool visible = false;
    int left = 0, right = -1, top = 0, bottom = -1;
    int r = 0, g = 0, b = 0;
    double centreX() const { return (left + right + 1) / 2.0; }
    int width() const { return right - left + 1; }
    int height() const { return bottom - top + 1; }
    std::string text() const;
};
LitPart litPart(const uint8_t* rgba, int width, int height);

// Writes an RGBA PNG (rows top first).
void writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);

// Writes a still in the format its extension names (png, jpg/jpeg, bmp, tga), atomically:
// written under a temporary name, then renamed into place.
void writeStill(const std::string& path, int width, int height, const std::vector<uint8_t>& rgba);
// `width` x `height` pixels of one opaque colour.
std::vector<uint8_t> solidRgba(int width, int height, uint8_t r, uint8_t g, uint8_t b);

// Sends one ArtDmx datagram to 127.0.0.1:6454: `channels` from DMX address `start` (1..512)
// of the universe `sub_uni` (subnet << 4 | universe).
void sendArtDmx(int sub_uni, int start, const std::vector<uint8_t>& channels);
// An ArtDmx packet: header as a desk sends it, then `data`. `length` is the declared slot
// count, which tests may set to disagree with the data carried.
std::vector<uint8_t> artDmx(int sub_uni, int length, const std::vector<uint8_t>& data, int net = 0);
// An ArtDmx packet carrying exactly `data` for SubUni 0.
std::vector<uint8_t> artDmx(const std::vector<uint8_t>& data);

// True when UDP port 6454 is bound in this network namespace (a fixture is listening).
bool artnetPortTaken();
// Waits up to `seconds` for a fixture to bind the Art-Net port, the last step of its
// start-up; true once it has.
bool waitForArtnetPortTaken(double seconds);

// Path of a program built with the project (e.g. "rpi_lumetra").
std::string builtProgram(const std::string& name);
// Starts the built rpi_lumetra --silent in `dir`, its output in dir/program.log, after
// `environment` has set the child's environment; returns once it has been exec'd (so that
// "n ms after the start" means after the exec). The child's pid, or -1.
int startSilentProgram(const std::string& dir, const std::function<void()>& environment);

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
