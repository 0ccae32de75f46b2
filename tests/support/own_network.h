#pragma once

#include <string>

namespace LumetraTest {

// Moves this process into a network namespace of its own with only a loopback that is up,
// so that the ports the fixture uses (Art-Net 6454, sACN 5568) are free for the test
// whatever else runs on the machine: another fixture, olad, desk software. Root gets a
// plain network namespace; another user gets one inside a user namespace that maps only
// its own ids. Call it before any thread starts. Returns "" on success, else why the test
// keeps the machine's network.
std::string enterOwnNetwork();

}  // namespace LumetraTest
