#include "artnet_poll_limiter.h"

#include <algorithm>

namespace Lumetra {

void ArtnetPollLimiter::Bucket::refill(Clock::time_point now, double burst, double per_second) {
    if (now > filled) {
        const double seconds = std::chrono::duration<double>(now - filled).count();
        tokens = std::min(burst, tokens + seconds * per_second);
    }
    filled = now;
}

ArtnetPollLimiter::Sender& ArtnetPollLimiter::senderFor(uint32_t ip, Clock::time_point now) {
    Sender* oldest = &senders[0];
    for (Sender& sender : senders) {
        if (sender.used && sender.ip == ip) {
            return sender;
        }
        if (!sender.used || (oldest->used && sender.heard < oldest->heard)) {
            oldest = &sender;
        }
    }
    oldest->used = true;
    oldest->ip = ip;
    oldest->bucket.tokens = SENDER_BURST;
    oldest->bucket.filled = now;
    return *oldest;
}

bool ArtnetPollLimiter::allow(uint32_t ip, Clock::time_point now) {
    if (!started) {
        total.filled = now;
        started = true;
    }
    Sender& sender = senderFor(ip, now);
    sender.heard = now;
    sender.bucket.refill(now, SENDER_BURST, SENDER_PER_SECOND);
    total.refill(now, TOTAL_BURST, TOTAL_PER_SECOND);
    if (sender.bucket.tokens < 1 || total.tokens < 1) {
        return false;
    }
    sender.bucket.tokens -= 1;
    total.tokens -= 1;
    return true;
}

}  // namespace Lumetra
