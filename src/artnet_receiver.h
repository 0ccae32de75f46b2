#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>

#include "artnet_packet.h"
#include "artnet_poll_limiter.h"
#include "dmx_frame_copy.h"
#include "gpio_line.h"

namespace Lumetra {

class Canvas;
class CanvasManager;
class SacnInput;

// Listens for Art-Net on UDP 6454, keeps the newest DMX frame of one universe, answers
// polls, drives one canvas group from the frame and blinks the optional status LED. With
// an sACN universe (1 to 63999) it also takes that universe's sACN on UDP 5568.
class ArtnetReceiver {
  public:
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int gpio_led,
                   int sacn_universe = 0);
    ~ArtnetReceiver();

    ArtnetReceiver(const ArtnetReceiver&) = delete;
    ArtnetReceiver& operator=(const ArtnetReceiver&) = delete;

    // The frame last mapped, for readers on other threads.
    const DmxFrameCopy& dmxFrame() const { return published; }
    // Bytes the kernel granted the Art-Net socket's receive buffer (set by the constructor).
    int receiveBufferBytes() const { return receive_buffer; }

  private:
    // Tests and benchmarks reach the internals through this one class.
    friend class ArtnetReceiverProbe;

    // The public constructor passes getuid() == 0; tests choose either answer, and may
    // leave the listener thread unstarted to run its cycles themselves.
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int gpio_led,
                   bool is_root, bool start_listener, int sacn_universe);

    void openSocket();
    void sizeReceiveBuffer();
    void netListener();
    void listenCycle();
    void waitForNextCycle();
    bool receive();
    ssize_t readDatagram();
    int parseArtNet(int len);
    bool pollWanted();

    int ArtPollReply();
    // What the reply says (artnet_receiver_poll.cpp).
    ArtPollReplyInfo pollReplyInfo();
    bool GetMyIPAdress();
    uint32_t replyAddress(std::string* interface_name);

    // sACN beside Art-Net (artnet_receiver_sacn.cpp).
    void openSacn(int sacn_universe);
    void closeSacn();
    void stampArrivals();
    bool takeSacn(bool artnet_arrived);
    int sacnDescriptor() const;
    void drainSacn();
    timespec lastArtnetArrival();

    // DMX channel mapping (artnet_receiver_mapping.cpp).
    void updateCanvasValues();
    void mapCanvas(Canvas* canvas, const unsigned char* channels);
    float correctAngleRange(float angle);

    // Status LED (artnet_receiver_led.cpp).
    void initLED();
    void setLED(int value);
    void quitLED();
    bool ledActive() const;
    bool chooseLedRoute();
    void writeGpioFile(const std::string& name, const std::string& text);

    CanvasManager* screen;
    std::thread net_listener_thread;
    std::atomic<bool> quit{false};
    int canvases_id;
    int artnet_universe;
    int artnet_subnet;
    int dmx_start;
    float scale_multiplier;
    unsigned char dmx512[512] = {};
    int s = -1;
    sockaddr_in myAddr{};
    sockaddr_in clientAddr{};
    char buffer[1024] = {};
    int gpio_led;
    int led_blink = 0;
    bool is_root = false;
    std::string gpio_root;
    GpioLine led_line;           // the LED's line on the header's chip, when it has one
    bool led_sysfs = false;      // no GPIO character device: the sysfs files under gpio_root
    bool poll_answered = false;  // the datagram parseArtNet examined last was an answered poll
    bool poll_cut = false;       // the last drain stopped at an answered poll
    bool frame_fresh = false;    // DMX accepted since the frame was last mapped
    int receive_buffer = 0;      // bytes the kernel granted the listening socket
    int arrival_ifindex = 0;     // interface the datagram read last came in on
    in_addr arrival_local{};     // our address on that interface, as the kernel picks it
    std::chrono::steady_clock::time_point last_dmx{};
    bool dmx_seen = false;
    unsigned int replies_sent = 0;
    ArtnetPollLimiter poll_limiter;
    SacnInput* sacn = nullptr;  // owned; none when sACN is off
    bool arrivals_stamped = false;
    DmxFrameCopy published;
};

}  // namespace Lumetra
