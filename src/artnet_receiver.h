#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <string>
#include <thread>

#include "artnet_packet.h"
#include "artnet_poll_limiter.h"
#include "dmx_frame_copy.h"
#include "dmx_frame_mailbox.h"
#include "dmx_sync_hold.h"
#include "gpio_line.h"

namespace Lumetra {

class Canvas;
class CanvasManager;
class DmxFrameMapper;
class SacnInput;

// Who the node is on the network beside its subnet and universe: what a desk may change
// with ArtAddress, and the file such changes are kept in.
struct ArtnetIdentity {
    int net = 0;             // 0..127, bits 14-8 of the Port-Address
    std::string short_name;  // empty: the default names
    std::string long_name;
    std::string config_path = "config.txt";
    bool sacn_follows = false;  // sACN's universe is the Port-Address + 1 (no SACN_UNIVERSE=)
    // Called on the listener thread when a desk's ArtAddress switches locate on (again
    // after it re-addressed the node) or off, with the address and long name it has then.
    std::function<void(bool on, int net, int subnet, int universe, const std::string& name)> locate;
};

// Listens for Art-Net on UDP 6454, keeps the newest DMX frame of one universe, answers
// polls, drives one canvas group from the frame and blinks the optional status LED. With
// an sACN universe (1 to 63999) it also takes that universe's sACN on UDP 5568. With 20
// channels per canvas the listener sets the canvases every 50 ms; with 32 it hands each
// frame to the render thread, which maps it at the start of the next drawn frame. Built
// and destroyed on the render thread.
class ArtnetReceiver {
  public:
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int gpio_led,
                   int sacn_universe = 0, int channels = 20,
                   const ArtnetIdentity& identity = ArtnetIdentity());
    ~ArtnetReceiver();

    ArtnetReceiver(const ArtnetReceiver&) = delete;
    ArtnetReceiver& operator=(const ArtnetReceiver&) = delete;

    // The frame last mapped, for readers on other threads.
    const DmxFrameCopy& dmxFrame() const { return published; }
    // Bytes the kernel granted the Art-Net socket's receive buffer (set by the constructor).
    int receiveBufferBytes() const { return receive_buffer; }
    // Why the status LED asked for cannot be driven; empty when it can or none was asked for.
    const std::string& ledProblem() const { return led_problem; }

  private:
    // Tests and benchmarks reach the internals through this one class.
    friend class ArtnetReceiverProbe;

    // The public constructor passes getuid() == 0; tests choose either answer, and may
    // leave the listener thread unstarted to run its cycles themselves.
    ArtnetReceiver(CanvasManager* screen, int canvases_id, unsigned int universe,
                   unsigned int subnet, int dmx_start, float scale_multiplier, int gpio_led,
                   bool is_root, bool start_listener, int sacn_universe, int channels,
                   const ArtnetIdentity& identity);

    void openSocket();
    void sizeReceiveBuffer();
    void netListener();
    void listenCycle();
    // The 32-channel personality: every frame is handed on as it arrives.
    void listenOnArrival();
    void frameStart(std::chrono::steady_clock::time_point now);
    void waitForNextCycle();
    bool receive();
    ssize_t readDatagram();
    int parseArtNet(int len);
    bool pollWanted();

    int ArtPollReply();
    // Sends our reply to `destination` (host byte order); `answer`: it answers a poll and
    // counts in the NodeReport.
    void sendPollReply(uint32_t destination, bool answer);
    void sendReply(const ArtPollReplyInfo& info, uint32_t destination);
    // Unsolicited, to the directed broadcast address of every network we are on: at start
    // and when what the reply shows changed (artnet_receiver_poll.cpp).
    void announce();
    // What the reply says (artnet_receiver_poll.cpp).
    ArtPollReplyInfo pollReplyInfo(bool answer = true);
    bool dmxArriving() const;
    void announceDmxChange();
    bool GetMyIPAdress();
    uint32_t replyAddress(std::string* interface_name);

    // sACN beside Art-Net (artnet_receiver_sacn.cpp).
    void openSacn(int sacn_universe);
    void closeSacn();
    void stampArrivals();
    bool takeSacn(bool artnet_arrived);
    int sacnDescriptor() const;
    void listSacnSources();
    void drainSacn();
    timespec lastArtnetArrival();

    // DMX channel mapping (artnet_receiver_mapping.cpp).
    void updateCanvasValues();
    void mapCanvas(Canvas* canvas, const unsigned char* channels);
    float correctAngleRange(float angle);

    // A desk's ArtSync and ArtAddress (artnet_receiver_address.cpp).
    bool takeSync();
    void takeArtAddress(int len);
    void storeIdentity();
    // Writes a stored change at most once per STORE_INTERVAL, the newest state last.
    void storeWhenDue(bool at_end);
    void locateCycle();

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
    int artnet_net = 0;
    // What config.txt said at start: the node's "switches", which an ArtAddress reset
    // restores (Net has no reset: Art-Net 3 desks send 0 there to mean "no change").
    int switch_universe = 0;
    int switch_subnet = 0;
    ArtnetIdentity identity;
    DmxSyncHold sync_hold;
    enum LedMode { LED_NORMAL, LED_MUTE, LED_LOCATE } led_mode = LED_NORMAL;
    int locate_cycles = 0;
    bool store_pending = false;
    bool announced_arriving = false;
    std::chrono::steady_clock::time_point next_store{};
    int dmx_start;
    float scale_multiplier;
    unsigned char dmx512[512] = {};
    int s = -1;
    sockaddr_in myAddr{};
    sockaddr_in clientAddr{};  // sender of the datagram read last
    in_addr dmx_sender{};      // sender of the last ArtDmx taken, which the web page lists
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
    int last_drain_reads = 0;    // datagrams (and the final empty read) of the last drain
    int receive_buffer = 0;      // bytes the kernel granted the listening socket
    int arrival_ifindex = 0;     // interface the datagram read last came in on
    in_addr arrival_local{};     // our address on that interface, as the kernel picks it
    std::chrono::steady_clock::time_point last_dmx{};
    bool dmx_seen = false;
    unsigned int replies_sent = 0;
    unsigned long replies_failed = 0;  // poll replies the kernel would not take
    std::string led_problem;
    ArtnetPollLimiter poll_limiter;
    SacnInput* sacn = nullptr;  // owned; none when sACN is off
    bool arrivals_stamped = false;
    uint64_t sacn_changes_listed = 0;  // the source table's changes() when last listed
    std::chrono::steady_clock::time_point next_sacn_list{};
    static constexpr std::chrono::milliseconds SACN_LIST_INTERVAL{250};
    // The 32-channel personality: the listener publishes whole frames into the mailbox,
    // the render thread maps them (null in the 20-channel personality).
    DmxFrameMailbox mailbox;
    DmxFrameMapper* mapper = nullptr;
    DmxFrameCopy published;
};

}  // namespace Lumetra
