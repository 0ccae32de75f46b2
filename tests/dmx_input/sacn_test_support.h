#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Lumetra {
namespace ArtnetTest {

using Cid = std::array<uint8_t, 16>;

// The fields of an E1.31 data packet that tests vary; everything else is as a desk sends.
struct SacnFields {
    Cid cid = {0x5a, 0x11, 0x2e, 0x90, 0x41, 0x0c, 0x4d, 0x8a,
               0x9b, 0x3f, 0x27, 0x64, 0xe1, 0x05, 0xc8, 0x7d};
    int priority = 100;
    int sequence = 0;
    int options = 0;
    int universe = 1;
    int start_code = 0;
    int sync_address = 0;
    std::vector<uint8_t> slots;
};

// A well-formed data packet with the given fields; all lengths agree with its size.
std::vector<uint8_t> sacnData(const SacnFields& fields);
// A CID of its own for every `n` from 0 to 65535.
Cid cidNumber(int n);
// A universe synchronization packet and a universe discovery packet listing `universe`.
std::vector<uint8_t> sacnSync(int sync_universe);
std::vector<uint8_t> sacnDiscovery(int universe);

// An sACN source sending its fields every `period_ms` from a thread of its own, to a
// multicast group (through the interface with address `from_ip`) or to a unicast address.
// Each packet takes the next sequence number.
class SacnSource {
  public:
    SacnSource(const SacnFields& fields, const std::string& to_ip, const std::string& from_ip,
               int period_ms = 25);
    ~SacnSource();
    void setFields(const SacnFields& fields);
    // Stops sending without a word, as a desk that is switched off.
    void stop();
    // Stops and sends the three stream-terminated packets a source ends with.
    void terminate();
    int sent() const { return packets; }

  private:
    void run();
    void sendOne(const SacnFields& fields);

    int fd;
    std::string to;
    int period_ms;
    std::mutex lock;
    SacnFields current;
    int sequence = 0;
    std::atomic<bool> running{true};
    std::atomic<int> packets{0};
    std::thread thread;
};

// The kernel stamps datagrams on arrival only a moment after the first socket asked for
// it; until then a stamp is the time of the read. Keeps a socket asking and waits (with a
// generous deadline) until stamps are arrival times. False when they never became so.
bool waitForArrivalStamps();

}  // namespace ArtnetTest
}  // namespace Lumetra
