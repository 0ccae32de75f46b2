// Feeds arbitrary datagrams to the Art-Net packet check and verifies what it did to the
// DMX frame: only an accepted ArtDmx packet may change it, and only in its declared slots.
// ArtAddress requests stay in their ranges and fields; the sync hold, driven by the input
// as a stream of frames, syncs and clock steps, never lets a held frame out early.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <chrono>

#include "artnet_packet.h"
#include "dmx_sync_hold.h"

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

void checkAddress(const uint8_t* data, int len) {
    Lumetra::ArtAddressRequest request;
    if (!Lumetra::readArtAddress(data, len, &request)) {
        check(len < 107 || data[8] != 0x00 || data[9] != 0x60 ||
              std::memcmp(data, "Art-Net", 8) != 0);
        return;
    }
    check(request.net >= -1 && request.net <= Lumetra::ARTNET_MAX_NET);
    check(request.subnet >= -1 && request.subnet <= 15);
    check(request.universe >= -1 && request.universe <= 15);
    check(request.short_name.size() < Lumetra::ARTNET_SHORT_NAME_SIZE);
    check(request.long_name.size() < Lumetra::ARTNET_LONG_NAME_SIZE);
    check(request.short_name.find('\0') == std::string::npos);
    check(request.command == data[106]);
    // What a reply makes of the names: its fields always end in a zero byte.
    Lumetra::ArtPollReplyInfo info;
    info.short_name = request.short_name;
    info.long_name = request.long_name;
    info.net = request.net < 0 ? 0 : request.net;
    unsigned char reply[Lumetra::ARTNET_POLL_REPLY_SIZE];
    Lumetra::buildArtPollReply(info, reply);
    check(reply[26 + 17] == 0 && reply[44 + 63] == 0 && reply[18] == info.net);
}

// Each byte is one event: a frame from sender 0 or 1, a sync from either, or time passing.
// The live frame may change only at a sync from the last frame's sender, at the timeout,
// or by a frame offered while nothing is held.
void driveSyncHold(const uint8_t* data, size_t size) {
    Lumetra::DmxSyncHold hold;
    unsigned char live[Lumetra::DmxSyncHold::SLOTS] = {};
    auto now = Lumetra::DmxSyncHold::Clock::time_point() + std::chrono::hours(1);
    int last_sender = -1;
    for (size_t i = 0; i < size && i < 4096; ++i) {
        const int sender = data[i] & 1;
        const unsigned char before = live[0];
        switch ((data[i] >> 1) % 4) {
            case 0: {
                unsigned char* frame = hold.frameFor(live, now);
                check(frame != nullptr);
                frame[0] = data[i];
                const bool at_once = hold.offered(static_cast<uint32_t>(sender));
                check(at_once == (frame == live));
                last_sender = sender;
                break;
            }
            case 1: {
                const bool applied = hold.sync(static_cast<uint32_t>(sender), live, now);
                check(!applied || sender == last_sender);
                check(applied || live[0] == before);
                break;
            }
            case 2:
                now += std::chrono::milliseconds(data[i] * 20);
                hold.expire(live, now);
                check(!hold.framePending() || hold.holding());
                break;
            default:
                check(!hold.expire(live, now) || !hold.holding());
                break;
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
    check(reply[212] == 0x08);

    checkAddress(data, len);
    driveSyncHold(data, size);
    if (len > 15) {
        // A node on the packet's own Net as well.
        unsigned char frame[Lumetra::ARTNET_DMX_SLOTS];
        const Lumetra::ArtnetPacketKind kind = Lumetra::examineArtnetPacket(
            data, len, data[15] & 0x7f, data[14] >> 4, data[14] & 0x0f, frame);
        check(kind != Lumetra::ARTNET_SYNC || (data[8] == 0x00 && data[9] == 0x52));
        check(kind != Lumetra::ARTNET_ADDRESS || len >= 107);
    }
    return 0;
}
