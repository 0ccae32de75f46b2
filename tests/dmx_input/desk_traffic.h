#pragma once

// Traffic a fixture meets on a show network, played on loopback: a desk sending its frame
// at 44 Hz, and on top of it polls or junk at a chosen rate. Header-only, so that the
// latency benchmark uses the very same traffic as the tests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "dmx_input/artnet_test_support.h"

namespace Lumetra {
namespace ArtnetTest {

using Clock = std::chrono::steady_clock;

constexpr int ARTNET_PORT = 6454;
constexpr int SACN_PORT = 5568;

inline sockaddr_in loopbackPort(int port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

// The datagram a desk sends for its frame's slots (ArtDmx by default; sACN numbers its
// packets, so the encoder may keep state).
using FrameEncoder = std::function<Bytes(const Bytes& slots)>;

// Sends its current DMX frame of one universe 44 times a second, like a desk.
class Desk {
  public:
    static constexpr std::chrono::microseconds PERIOD{1000000 / 44};

    Desk(int sub_uni, const Bytes& slots)
        : Desk([sub_uni](const Bytes& s) { return artDmx(sub_uni, static_cast<int>(s.size()), s); },
               ARTNET_PORT, slots) {}
    Desk(FrameEncoder encode, int port, const Bytes& slots)
        : encode(std::move(encode)), port(port), slots(slots) {
        thread = std::thread([this] { run(); });
    }
    ~Desk() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        thread.join();
    }
    // The desk sends `next` from its next tick on; returns the time it first went out.
    Clock::time_point change(const Bytes& next) {
        std::unique_lock<std::mutex> lock(mutex);
        slots = next;
        pending = true;
        changed.wait(lock, [this] { return !pending || stopping; });
        return first_sent;
    }

  private:
    void run() {
        Sender sender;
        Clock::time_point tick = Clock::now();
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopping) {
            const Bytes packet = encode(slots);
            const bool first = pending;
            lock.unlock();
            const Clock::time_point sent = Clock::now();
            sender.send(packet, "127.0.0.1", port);
            lock.lock();
            if (first) {
                first_sent = sent;
                pending = false;
                changed.notify_all();
            }
            tick += PERIOD;
            changed.wait_until(lock, tick, [this] { return stopping; });
        }
    }

    const FrameEncoder encode;
    const int port;
    Bytes slots;
    std::mutex mutex;
    std::condition_variable changed;
    bool pending = false;
    bool stopping = false;
    Clock::time_point first_sent{};
    std::thread thread;
};

// Datagrams from a pool sent round-robin at a steady rate until destroyed; polls come
// from `sources` loopback addresses (127.0.0.2 on), as from several controllers.
class Background {
  public:
    static std::vector<Bytes> polls() { return {artPoll()}; }
    // Random bytes of random sizes from 0 to `max_size`, none of them Art-Net.
    static std::vector<Bytes> junk(int max_size, int count = 512) {
        std::mt19937 random(1234);
        std::vector<Bytes> pool;
        for (int i = 0; i < count; ++i) {
            Bytes datagram(random() % (static_cast<unsigned>(max_size) + 1));
            for (unsigned char& b : datagram) {
                b = static_cast<unsigned char>(random());
            }
            pool.push_back(datagram);
        }
        return pool;
    }

    Background(std::vector<Bytes> pool, double per_second, int sources = 1, int port = ARTNET_PORT)
        : pool(std::move(pool)), per_second(per_second), port(port) {
        for (int i = 0; i < sources; ++i) {
            int fd = socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in from{};
            from.sin_family = AF_INET;
            from.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 2 + static_cast<uint32_t>(i));
            bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof(from));
            fds.push_back(fd);
        }
        if (per_second > 0) {
            thread = std::thread([this] { run(); });
        }
    }
    ~Background() {
        stopping = true;
        if (thread.joinable()) {
            thread.join();
        }
        for (int fd : fds) {
            close(fd);
        }
    }
    unsigned long sent() const { return count; }
    // The rate reached so far, which a busy machine may keep below the one asked for.
    double rate() const {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        return seconds > 0 ? count / seconds : 0;
    }

  private:
    void run() {
        const sockaddr_in to = loopbackPort(port);
        unsigned long n = 0;
        while (!stopping) {
            // Batches of a millisecond's worth keep the pace without a wake-up per datagram.
            const Clock::time_point due =
                start + std::chrono::microseconds(static_cast<long>(n * 1e6 / per_second));
            if (Clock::now() < due) {
                std::this_thread::sleep_until(due);
            }
            const unsigned long batch = static_cast<unsigned long>(per_second / 1000) + 1;
            for (unsigned long i = 0; i < batch && !stopping; ++i, ++n) {
                const Bytes& d = pool[n % pool.size()];
                sendto(fds[n % fds.size()], d.data(), d.size(), 0,
                       reinterpret_cast<const sockaddr*>(&to), sizeof(to));
                count = n + 1;
            }
        }
    }

    const std::vector<Bytes> pool;
    const double per_second;
    const int port;
    std::vector<int> fds;
    std::atomic<bool> stopping{false};
    std::atomic<unsigned long> count{0};
    Clock::time_point start = Clock::now();
    std::thread thread;
};

}  // namespace ArtnetTest
}  // namespace Lumetra
