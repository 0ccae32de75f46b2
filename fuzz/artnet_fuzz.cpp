// Feeds arbitrary datagrams to the Art-Net packet check and verifies what it did to the
// DMX frame: only an accepted ArtDmx packet may change it, and only in its declared slots.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "artnet_packet.h"

namespace {

constexpr size_t RECEIVE_BUFFER = 1024;  // a longer datagram is cut by the socket read
constexpr unsigned char UNTOUCHED = 0xA5;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void examineAs(const uint8_t* data, int len, int subnet, int universe) {
    unsigned char frame[Lumetra::ARTNET_DMX_SLOTS];
    std::memset(frame, UNTOUCHED, sizeof(frame));
    Lumetra::ArtnetPacketKind kind =
        Lumetra::examineArtnetPacket(data, len, subnet, universe, frame);
    if (kind != Lumetra::ARTNET_DMX) {
        for (unsigned char slot : frame) {
            check(slot == UNTOUCHED);
        }
        return;
    }
    check(len >= 19);
    check(data[14] == ((subnet << 4) | universe));
    int length = data[16] * 256 + data[17];
    check(length >= 2 && length <= Lumetra::ARTNET_DMX_SLOTS);
    for (int i = 0; i < Lumetra::ARTNET_DMX_SLOTS; ++i) {
        if (i >= length) {
            check(frame[i] == UNTOUCHED);
        } else if (18 + i < len) {
            check(frame[i] == data[18 + i]);
        } else {
            check(frame[i] == 0);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int len = static_cast<int>(size < RECEIVE_BUFFER ? size : RECEIVE_BUFFER);
    examineAs(data, len, 0, 0);
    if (len > 14) {
        // Also as a node of the packet's own universe, so the slot copy is reached often.
        examineAs(data, len, data[14] >> 4, data[14] & 0x0f);
    }
    // The reply built from input bytes: fixed fields hold, text fields end in a zero byte.
    Lumetra::ArtPollReplyInfo info;
    std::memcpy(&info.ip, data, size < sizeof(info.ip) ? size : sizeof(info.ip));
    std::memcpy(info.mac, data, size < sizeof(info.mac) ? size : sizeof(info.mac));
    info.subnet = len > 14 ? data[14] >> 4 : 0;
    info.universe = len > 14 ? data[14] & 0x0f : 0;
    info.dmx_arriving = size % 2 == 1;
    info.replies = static_cast<unsigned int>(size * 2654435761u);
    info.host.assign(reinterpret_cast<const char*>(data), size < 300 ? size : 300);
    unsigned char reply[Lumetra::ARTNET_POLL_REPLY_SIZE];
    Lumetra::buildArtPollReply(info, reply);
    check(reply[8] == 0x00 && reply[9] == 0x21 && reply[14] == 0x36 && reply[15] == 0x19);
    check(std::memcmp(reply + 26, "VORMEL", 7) == 0);
    check(reply[44 + 63] == 0 && reply[108 + 63] == 0 && reply[173] == 1);
    return 0;
}
