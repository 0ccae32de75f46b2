#include "dmx_input/one_canvas_fixture.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace Lumetra {
namespace ArtnetTest {

std::unique_ptr<LumetraTest::SnapshotProgram> startOneCanvasFixture(
    const ScratchDir& dir, const std::vector<std::vector<uint8_t>>& pictures, int width, int height,
    int refresh) {
    const std::string textures = dir.file("textures");
    mkdir(textures.c_str(), 0755);
    for (size_t i = 0; i < pictures.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "/%03zu.png", i);
        LumetraTest::writePng(textures + name, 16, 16, pictures[i]);
    }
    writeFile(dir.file("config.txt"), "SUBNET=0\nUNIVERSE=3\nANZAHL=1\nDMX_START=5\nGPIO_LED=-1\n");
    auto program =
        std::make_unique<LumetraTest::SnapshotProgram>(dir.path(), width, height, refresh);
    if (!LumetraTest::waitForArtnetPortTaken(20)) {
        ADD_FAILURE() << "the fixture does not listen: " << readFile(dir.file("program.log"));
        return nullptr;
    }
    return program;
}

}  // namespace ArtnetTest
}  // namespace Lumetra
