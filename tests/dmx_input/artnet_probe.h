#pragma once

#include <sys/ioctl.h>

#include <chrono>
#include <cstring>

#include "artnet_receiver.h"

namespace Lumetra {

// Reaches the receiver's internals for tests and benchmarks: a receiver whose root check
// the test decides and whose listener cycles the test may run itself.
class ArtnetReceiverProbe {
  public:
    struct Settings {
        CanvasManager* screen = nullptr;
        int canvases_id = 0;
        unsigned int universe = 0;
        unsigned int subnet = 0;
        int dmx_start = 1;
        float scale_multiplier = 1.0f;
        int gpio_led = -1;
        bool is_root = false;
        bool start_listener = false;
        int sacn_universe = 0;
        int channels = 20;
        ArtnetIdentity identity;
    };

    static ArtnetReceiver* create(const Settings& s) {
        return new ArtnetReceiver(s.screen, s.canvases_id, s.universe, s.subnet, s.dmx_start,
                                  s.scale_multiplier, s.gpio_led, s.is_root, s.start_listener,
                                  s.sacn_universe, s.channels, s.identity);
    }

    explicit ArtnetReceiverProbe(ArtnetReceiver* receiver) : r(receiver) {}

    bool receive() { return r->receive(); }
    // What the listener thread does once per 50 ms, without the sleep.
    void cycle() { r->listenCycle(); }
    void updateCanvasValues() { r->updateCanvasValues(); }
    float correctAngleRange(float angle) { return r->correctAngleRange(angle); }
    // Runs the packet check on bytes placed in the receive buffer as a read would.
    int parse(const unsigned char* data, int len) {
        std::memset(r->buffer, 0, sizeof(r->buffer));
        std::memcpy(r->buffer, data, static_cast<size_t>(len));
        return r->parseArtNet(len);
    }
    unsigned char* dmx512() { return r->dmx512; }
    // Hands the frame in dmx512() to the render thread as the 32-channel listener does.
    void publish(std::chrono::steady_clock::time_point arrival) {
        r->mailbox.publish(r->dmx512, arrival);
    }
    SacnInput* sacn() { return r->sacn; }
    int ledBlink() const { return r->led_blink; }
    // Bytes the kernel granted the listening socket's receive queue.
    int receiveBuffer() const { return r->receive_buffer; }
    void setLedBlink(int value) { r->led_blink = value; }
    // True while a datagram waits in the Art-Net socket's queue (asks without a descriptor
    // of its own).
    bool datagramQueued() const {
        int bytes = 0;
        return ioctl(r->s, FIONREAD, &bytes) == 0 && bytes > 0;
    }

  private:
    ArtnetReceiver* r;
};

}  // namespace Lumetra
