#pragma once

#include <netinet/in.h>

#include <string>

namespace LumetraSend {

// Waits up to `seconds` until a fixture listens on Art-Net port 6454 of `address`, polling
// it (ArtPoll) ten times a second. Listening means: an ArtPollReply came back, or, where
// no reply can be seen (an address of this machine, whose replies go to the fixture's own
// port), a poll drew no "port unreachable" from the kernel. False with `error` set on
// time-out.
bool waitUntilListening(const sockaddr_in& address, double seconds, std::string* error);

}  // namespace LumetraSend
