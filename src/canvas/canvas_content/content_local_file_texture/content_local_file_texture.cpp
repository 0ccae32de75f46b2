#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

#include <utility>

#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_content/content_local_file_texture/picture_budget.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/slot_loader.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "platform/drawing.h"

namespace Lumetra {

namespace {
// Stills and GIF frames are uploaded top row first; the first row goes to the top edge.
const GLfloat kTexCoords[8] = {0, 1, 1, 1, 0, 0, 1, 0};
// Video frames: the first row goes to the bottom edge.
const GLfloat kTexCoordsVid[8] = {0, 0, 1, 0, 0, 1, 1, 1};
}  // namespace

ContentLocalFileTexture::ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c)
    : display(*d), surface(*s), context(*c) {
    for (Texture*& slot : textures) {
        slot = nullptr;
    }
    player = new VideoPlayer(d, s, c);
    Platform::setTexCoords(texCoords);
    for (int i = 0; i < 8; ++i) {
        texCoords[i] = kTexCoords[i];
        texCoordsVid[i] = kTexCoordsVid[i];
    }
    loadSlots();
}

// Files are decoded on worker threads; slots are created and uploaded here, in ascending
// order, so the result (and which clips get the three players, and which pictures the
// memory budget reduces) is the sequential one.
void ContentLocalFileTexture::loadSlots() {
    const PictureLimits limits = PictureLimits::forMachine(PictureLimits::queryMaxTexture());
    PictureBudget budget(limits.total_bytes);
    SlotLoader loader(kSlots, SlotLoader::defaultWorkers(), limits);
    for (int i = 0; i < kSlots && !loadStopRequested(); ++i) {
        DecodedPicture picture = loader.take(i);
        budget.fit(picture);
        textures[i] = new Texture(i, player, texCoords, texCoordsVid, std::move(picture));
        loader.uploaded(i);
        budget.spend(textures[i]->keptBytes());
        reportLoadProgress(i + 1, kSlots);
    }
}

ContentLocalFileTexture::~ContentLocalFileTexture() {
    player->sendStopSignal();
    for (Texture*& slot : textures) {
        delete slot;
        slot = nullptr;
    }
    delete player;
}

std::string ContentLocalFileTexture::getContentTypeName() {
    return "CONTENT_TEXTURE_256";
}

Texture* ContentLocalFileTexture::getSlot(int tex_id) {
    if (tex_id < 0 || tex_id >= kSlots) {
        return nullptr;  // a content number outside the slots shows nothing new
    }
    return textures[tex_id];
}

void ContentLocalFileTexture::getContentRatio(int content_data, float* ratio) {
    Texture* slot = getSlot(content_data);
    if (slot != nullptr) {
        *ratio = slot->getTextureRatio();
    }
}

void ContentLocalFileTexture::setContent(int content_data) {
    setTexture(content_data);
}

void ContentLocalFileTexture::setTexture(int tex_id) {
    Platform::setTexCoords(texCoords);
    Texture* slot = getSlot(tex_id);
    if (slot != nullptr) {
        slot->setTexture();
    }
}

}  // namespace Lumetra
