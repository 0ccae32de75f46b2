#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "canvas/canvas_manager.h"
#include "support/test_support.h"

namespace Lumetra {
namespace ArtnetTest {

using Bytes = std::vector<unsigned char>;

using LumetraTest::artDmx;
// An ArtPoll; `size` 10 is ID and OpCode alone.
Bytes artPoll(int size = 14);
// An ArtSync.
Bytes artSync();
// An ArtAddress that changes nothing but what the caller then sets: NetSwitch at 12,
// ShortName at 14, LongName at 32, SwOut[0] at 100, SubSwitch at 104, Command at 106.
Bytes artAddress();

// A UDP socket that sends datagrams, by default to the node on this machine.
class Sender {
  public:
    Sender();
    // Sends from this local address (e.g. 127.0.0.7), so that one test plays many senders.
    explicit Sender(const std::string& source_ip);
    ~Sender();
    void send(const Bytes& datagram, const std::string& ip = "127.0.0.1", int port = 6454);

  private:
    int fd;
};

// A real canvas manager drawing offscreen at 64x36 (ratio 16:9) in a scratch directory
// with an empty ./textures/, as the receiver's screen.
class HeadlessScreen {
  public:
    explicit HeadlessScreen(int canvases, const std::string& size = "64x36");
    ~HeadlessScreen();
    CanvasManager* manager() { return screen.get(); }
    int groupId() const { return group; }
    std::vector<Canvas*> canvases() { return screen->getCanvasGroup(group); }
    const std::string& directory() const { return dir; }

  private:
    std::string old_cwd;
    std::string dir;
    std::unique_ptr<CanvasManager> screen;
    int group;
};

// A fresh scratch directory under /tmp, removed with everything in it by the destructor.
using LumetraTest::readFile;
using LumetraTest::ScratchDir;
using LumetraTest::writeFile;
// Number of open file descriptors of this process.
int openDescriptors();
// Resident set size of this process, in kilobytes.
long residentKilobytes();
// True when 6454 can be bound on this machine (nobody else holds it).
inline bool artnetPortFree() {
    return !LumetraTest::artnetPortTaken();
}

}  // namespace ArtnetTest
}  // namespace Lumetra
