#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "canvas/canvas_manager.h"

namespace Lumetra {
namespace ArtnetTest {

// Renders frames for the given span and returns how many were drawn.
int countFrames(CanvasManager* screen, std::chrono::milliseconds span);

// What the render loop did while a flood ran.
struct FloodWatch {
    int frames = 0;
    double seconds = 0;
    long rss_settled = -1;  // kilobytes once the first second is over, -1 if it never was
    long rss_after = 0;     // kilobytes when the flood ended
};

// Keeps rendering until `flooding` turns false. Memory is taken once the first second has
// shown every kind of frame to the GL driver, whose caches grow with what it is asked to draw.
FloodWatch watchRenderLoop(CanvasManager* screen, const std::atomic<bool>& flooding);

// Resident growth a flood may leave behind, in kilobytes. ASan holds freed blocks in its
// quarantine, so its resident size grows with any churn; leaks are LeakSanitizer's to
// find, flatness the plain build's.
long allowedFloodGrowthKb();

// Bytes queued on this machine's UDP sockets bound to the port (":1936" for 6454, hex as in
// /proc/net/udp).
long udpQueueBytes(const char* hex_port);

// The flood's length in seconds: LUMETRA_FLOOD_SECONDS, or 3.
int floodSeconds();

// Slots for `canvases` canvases that change with n, except picture and ring count: the GL
// driver's caches grow with every new one it draws, which would hide what the node itself
// does with memory.
std::vector<uint8_t> floodFrame(unsigned long n, int canvases);

// What a flood did: datagrams sent, the render loop during it, the frame rate before it and
// the time the kernel's backlog took to drain afterwards.
struct FloodRun {
    unsigned long sent = 0;
    FloodWatch watch;
    int base_frames = 0;
    double drain_seconds = 0;
};

// Renders while `send(n)` is called 100 000 times a second for `seconds`, then renders on
// until the queues of `hex_ports` are empty (30 s at most). The caller makes every datagram
// before, so that only the node could grow.
FloodRun runFlood(CanvasManager* screen, int seconds,
                  const std::function<void(unsigned long)>& send,
                  const std::vector<const char*>& hex_ports);

// Prints what the flood did under `name` and checks that the node held up: the render loop
// kept at least half its pace (without sanitizers, which slow it), no descriptor was
// left open, and a flood of 2 s or more did not grow the resident size.
void expectNodeHeldUp(const char* name, const FloodRun& run, int seconds, int fds_before);

// A last look after a flood, and the checks that each of `canvases` canvases shows it.
std::vector<uint8_t> lastLook(int canvases);
void expectLastLook(CanvasManager* screen, const std::vector<Canvas*>& canvases);

}  // namespace ArtnetTest
}  // namespace Lumetra
