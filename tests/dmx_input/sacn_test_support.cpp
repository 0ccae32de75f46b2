#include "dmx_input/sacn_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <thread>

namespace Lumetra {
namespace ArtnetTest {

namespace {

void put16(std::vector<uint8_t>& p, size_t at, int value) {
    p[at] = static_cast<uint8_t>(value >> 8);
    p[at + 1] = static_cast<uint8_t>(value);
}

// Root layer up to the CID, framing flags, as every E1.31 packet starts.
std::vector<uint8_t> rootLayer(uint8_t vector, const Cid& cid) {
    const uint8_t preamble[16] = {0x00, 0x10, 0x00, 0x00, 'A', 'S', 'C', '-',
                                  'E',  '1',  '.',  '1',  '7', 0,   0,   0};
    std::vector<uint8_t> p(38, 0);
    std::memcpy(p.data(), preamble, sizeof(preamble));
    p[21] = vector;
    std::memcpy(p.data() + 22, cid.data(), cid.size());
    return p;
}

void setLengths(std::vector<uint8_t>& p, std::initializer_list<size_t> pdus) {
    for (size_t at : pdus) {
        put16(p, at, 0x7000 | static_cast<int>(p.size() - at));
    }
}

}  // namespace

std::vector<uint8_t> sacnData(const SacnFields& f) {
    std::vector<uint8_t> p = rootLayer(0x04, f.cid);
    p.resize(125, 0);
    p[43] = 0x02;  // framing vector VECTOR_E131_DATA_PACKET
    const char name[] = "lumetra test source";
    std::memcpy(&p[44], name, sizeof(name));
    p[108] = static_cast<uint8_t>(f.priority);
    put16(p, 109, f.sync_address);
    p[111] = static_cast<uint8_t>(f.sequence);
    p[112] = static_cast<uint8_t>(f.options);
    put16(p, 113, f.universe);
    p[117] = 0x02;  // VECTOR_DMP_SET_PROPERTY
    p[118] = 0xa1;  // address and data type
    put16(p, 119, 0);
    put16(p, 121, 1);
    put16(p, 123, static_cast<int>(f.slots.size() + 1));
    p.push_back(static_cast<uint8_t>(f.start_code));
    p.insert(p.end(), f.slots.begin(), f.slots.end());
    setLengths(p, {16, 38, 115});
    return p;
}

Cid cidNumber(int n) {
    Cid cid;
    for (size_t i = 0; i < cid.size(); ++i) {
        cid[i] = static_cast<uint8_t>(0x40 + static_cast<int>(i) * 7);
    }
    cid[14] = static_cast<uint8_t>(n >> 8);
    cid[15] = static_cast<uint8_t>(n);
    return cid;
}

std::vector<uint8_t> sacnSync(int sync_universe) {
    std::vector<uint8_t> p = rootLayer(0x08, cidNumber(7));
    p.resize(49, 0);
    p[43] = 0x01;  // VECTOR_E131_EXTENDED_SYNCHRONIZATION
    p[44] = 3;     // sequence
    put16(p, 45, sync_universe);
    setLengths(p, {16, 38});
    return p;
}

std::vector<uint8_t> sacnDiscovery(int universe) {
    std::vector<uint8_t> p = rootLayer(0x08, cidNumber(8));
    p.resize(122, 0);
    p[43] = 0x02;   // framing vector VECTOR_E131_EXTENDED_DISCOVERY
    p[117] = 0x01;  // discovery layer vector VECTOR_UNIVERSE_DISCOVERY_UNIVERSE_LIST
    p[118] = 0;     // page
    p[119] = 0;     // last page
    put16(p, 120, universe);
    setLengths(p, {16, 38, 112});
    return p;
}

namespace {

// A datagram to ourselves, read after a pause: stamped on arrival it is older than the read.
bool stampPrecedesRead(int fd, const sockaddr_in& self) {
    timespec sent{};
    clock_gettime(CLOCK_REALTIME, &sent);
    sendto(fd, "t", 1, 0, reinterpret_cast<const sockaddr*>(&self), sizeof(self));
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    timespec before_read{};
    clock_gettime(CLOCK_REALTIME, &before_read);
    char byte;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
    iovec io{&byte, 1};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    if (recvmsg(fd, &message, MSG_DONTWAIT) != 1) {
        return false;
    }
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    if (c == nullptr || c->cmsg_type != SCM_TIMESTAMPNS) {
        return false;
    }
    timespec stamp;
    std::memcpy(&stamp, CMSG_DATA(c), sizeof(stamp));
    auto ns = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
    return ns(stamp) >= ns(sent) && ns(stamp) < ns(before_read);
}

}  // namespace

SacnSource::SacnSource(const SacnFields& fields, const std::string& to_ip,
                       const std::string& from_ip, int period_ms)
    : fd(socket(AF_INET, SOCK_DGRAM, 0)), to(to_ip), period_ms(period_ms), current(fields) {
    in_addr from{};
    inet_pton(AF_INET, from_ip.c_str(), &from);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &from, sizeof(from));
    thread = std::thread(&SacnSource::run, this);
}

SacnSource::~SacnSource() {
    stop();
    close(fd);
}

void SacnSource::setFields(const SacnFields& fields) {
    std::lock_guard<std::mutex> hold(lock);
    current = fields;
}

void SacnSource::stop() {
    running = false;
    if (thread.joinable()) {
        thread.join();
    }
}

void SacnSource::terminate() {
    stop();
    std::lock_guard<std::mutex> hold(lock);
    SacnFields last = current;
    last.options |= 0x40;
    for (int i = 0; i < 3; ++i) {
        sendOne(last);
    }
}

void SacnSource::run() {
    while (running) {
        {
            std::lock_guard<std::mutex> hold(lock);
            sendOne(current);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(period_ms));
    }
}

void SacnSource::sendOne(const SacnFields& fields) {
    SacnFields f = fields;
    f.sequence = ++sequence & 0xff;
    std::vector<uint8_t> p = sacnData(f);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(5568);
    inet_pton(AF_INET, to.c_str(), &address.sin_addr);
    if (sendto(fd, p.data(), p.size(), 0, reinterpret_cast<sockaddr*>(&address), sizeof(address)) ==
        static_cast<ssize_t>(p.size())) {
        ++packets;
    }
}

bool waitForArrivalStamps() {
    static int keeper = -1;  // stays open: stamping stays on while a socket wants it
    static sockaddr_in self{};
    if (keeper < 0) {
        keeper = socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        setsockopt(keeper, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
        self.sin_family = AF_INET;
        self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(keeper, reinterpret_cast<sockaddr*>(&self), sizeof(self));
        socklen_t len = sizeof(self);
        getsockname(keeper, reinterpret_cast<sockaddr*>(&self), &len);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (stampPrecedesRead(keeper, self)) {
            return true;
        }
    }
    return false;
}

}  // namespace ArtnetTest
}  // namespace Lumetra
