#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dmx_input/artnet_test_support.h"
#include "support/snapshot_program.h"

namespace Lumetra {
namespace ArtnetTest {

// Starts the built fixture in `dir` (offscreen, silent, snapshots on request) with one
// canvas at DMX address 5 of universe 3, showing the given 16x16 RGBA pictures as slots
// 0, 1, ...; returns once it listens, or null (and a test failure) when it does not.
std::unique_ptr<LumetraTest::SnapshotProgram> startOneCanvasFixture(
    const ScratchDir& dir, const std::vector<std::vector<uint8_t>>& pictures, int width, int height,
    int refresh);

}  // namespace ArtnetTest
}  // namespace Lumetra
