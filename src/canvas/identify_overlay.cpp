#include "canvas/identify_overlay.h"

#include <utility>

#include "canvas/rgba_texture.h"
#include "platform/drawing.h"

namespace Lumetra {

IdentifyOverlay::~IdentifyOverlay() {
    if (texture != 0) {
        glDeleteTextures(1, &texture);
    }
}

void IdentifyOverlay::show(std::vector<uint8_t> rgba, int width, int height, int seconds) {
    std::lock_guard<std::mutex> hold(lock);
    pending = std::move(rgba);
    pending_width = width;
    pending_height = height;
    pending_seconds = seconds;
    handed.store(true, std::memory_order_release);
}

bool IdentifyOverlay::draw() {
    if (handed.load(std::memory_order_acquire)) {
        std::unique_lock<std::mutex> hold(lock, std::try_to_lock);
        if (hold.owns_lock()) {
            handed.store(false);
            on = pending_seconds > 0 && pending_width > 0 && pending_height > 0 &&
                 pending.size() == static_cast<size_t>(pending_width) * pending_height * 4;
            if (on) {
                if (texture == 0) {
                    glGenTextures(1, &texture);
                }
                // A pattern the GL refuses is not drawn rather than drawn as a solid block.
                on = uploadRgbaTexture(texture, pending_width, pending_height, pending.data());
                until = std::chrono::steady_clock::now() + std::chrono::seconds(pending_seconds);
            }
            std::vector<uint8_t>().swap(pending);
        }
    }
    if (!on) {
        return false;
    }
    if (std::chrono::steady_clock::now() >= until) {
        on = false;
        return false;
    }
    // The whole screen under the identity transform; the picture's top row at the top.
    static const float kScreen[12] = {-1, -1, 0, 1, -1, 0, -1, 1, 0, 1, 1, 0};
    static const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    static const float kTexCoords[8] = {0, 1, 1, 1, 0, 0, 1, 0};
    static const float kWhite[4] = {1, 1, 1, 1};
    Platform::setVertices(kScreen);
    Platform::setTransform(kIdentity);
    Platform::setTexCoords(kTexCoords);
    Platform::setColor(kWhite);
    glBindTexture(GL_TEXTURE_2D, texture);
    Platform::drawQuad();
    return true;
}

}  // namespace Lumetra
