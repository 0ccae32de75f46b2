#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

#include <chrono>
#include <deque>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/load_progress.h"
#include "canvas/canvas_content/content_local_file_texture/picture_budget.h"
#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"
#include "canvas/canvas_content/content_local_file_texture/picture_upload.h"
#include "canvas/canvas_content/content_local_file_texture/slot_loader.h"
#include "canvas/canvas_content/content_local_file_texture/texture.h"
#include "canvas/canvas_content/content_local_file_texture/texture_pool.h"
#include "canvas/canvas_content/content_local_file_texture/video_player.h"
#include "platform/drawing.h"

namespace Lumetra {

namespace {
// The part of a frame that uploading new pictures may take.
const std::chrono::milliseconds kUploadSlice(3);
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
    const PictureLimits limits = PictureLimits::forMachine(PictureLimits::queryMaxTexture());
    // Watching starts before the directory is read, so a change made while the slots load
    // is not lost.
    if (pictureReload()) {
        reloader = new SlotReloader(kTextureDir, limits);
        pool = new TexturePool(limits.total_bytes / 8);  // beside the pictures' budget
    }
    const SlotFiles files = SlotFiles::scan(kTextureDir);
    loadSlots(limits, files);
    if (reloader != nullptr && !loadStopRequested()) {
        std::vector<uint64_t> kept(kSlots, 0);
        for (int i = 0; i < kSlots; ++i) {
            kept[i] = textures[i] != nullptr ? textures[i]->keptBytes() : 0;
        }
        reloader->start(files, kept);
    }
}

// Files are decoded on worker threads; slots are created and uploaded here, in ascending
// order, so the result (and which clips get the three players, and which pictures the
// memory budget reduces) is the sequential one.
void ContentLocalFileTexture::loadSlots(const PictureLimits& limits, const SlotFiles& files) {
    PictureBudget budget(limits.total_bytes);
    SlotLoader loader(kSlots, SlotLoader::defaultWorkers(), limits, files);
    for (int i = 0; i < kSlots && !loadStopRequested(); ++i) {
        for (const std::string& line : files.conflictNotices(i)) {
            reportLoadNotice(line);
        }
        DecodedPicture picture = loader.take(i);
        budget.fit(picture);
        textures[i] = new Texture(i, player, texCoords, texCoordsVid, std::move(picture));
        loader.uploaded(i);
        budget.spend(textures[i]->keptBytes());
        reportLoadProgress(i + 1, kSlots);
    }
}

ContentLocalFileTexture::~ContentLocalFileTexture() {
    delete reloader;  // joins its thread; pictures not taken are freed with it
    reloader = nullptr;
    for (PictureUpload* upload : uploads) {
        delete upload;
    }
    uploads.clear();
    for (Texture* texture : retired) {
        delete texture;
    }
    retired.clear();
    delete pool;
    pool = nullptr;
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

void ContentLocalFileTexture::frameBoundary() {
    if (reloader == nullptr) {
        return;
    }
    pool->frameDone();
    // Deleting a texture the last frame drew can wait for that frame's drawing to end; a
    // frame later it is done. A still's texture may serve the next picture of its size.
    for (Texture* texture : retired) {
        const int width = texture->getSizeX();
        const int height = texture->getSizeY();
        pool->give(texture->takeStillTexture(), width, height);
        delete texture;
    }
    retired.clear();
    if (reloader->hasReady()) {
        std::deque<SlotReloader::Reload> taken = reloader->take();
        for (SlotReloader::Reload& reload : taken) {
            accept(reload);
        }
    }
    // New pictures go up in bands within a slice of the frame; each slot keeps its old
    // texture until its new one is complete, so no frame shows a gap.
    const PictureUpload::Clock::time_point deadline = PictureUpload::Clock::now() + kUploadSlice;
    while (!uploads.empty()) {
        PictureUpload* upload = uploads.front();
        if (!upload->step(deadline, pool)) {
            break;
        }
        uploads.erase(uploads.begin());
        retire(upload->slot());
        textures[upload->slot()] = upload->finish(player, texCoords, texCoordsVid);
        reloader->uploaded(upload->heldBytes());
        delete upload;
        if (PictureUpload::Clock::now() >= deadline) {
            break;
        }
    }
}

void ContentLocalFileTexture::accept(SlotReloader::Reload& reload) {
    for (const std::string& line : reload.notices) {
        reportLoadNotice(line);
    }
    if (reload.slot < 0 || reload.slot >= kSlots) {
        return;
    }
    dropUpload(reload.slot);  // a newer file for the slot wins over one still going up
    DecodedPicture& picture = reload.picture;
    if (picture.png_buffer != nullptr || picture.gif_buffer != nullptr) {
        uploads.push_back(new PictureUpload(reload.slot, std::move(picture), reload.held_bytes));
        return;
    }
    // Nothing to upload (no file, a clip, a refused picture): swapped at once. An old clip
    // goes first, so that its player is free for a new one.
    retire(reload.slot);
    textures[reload.slot] =
        new Texture(reload.slot, player, texCoords, texCoordsVid, std::move(picture));
    reloader->uploaded(reload.held_bytes);
}

void ContentLocalFileTexture::dropUpload(int slot) {
    for (size_t i = 0; i < uploads.size(); ++i) {
        if (uploads[i]->slot() == slot) {
            reloader->uploaded(uploads[i]->heldBytes());
            delete uploads[i];
            uploads.erase(uploads.begin() + static_cast<long>(i));
            return;
        }
    }
}

void ContentLocalFileTexture::retire(int slot) {
    Texture* old = textures[slot];
    textures[slot] = nullptr;
    if (old != nullptr && old->getTextureType() == TEX_VIDEO) {
        delete old;
    } else if (old != nullptr) {
        retired.push_back(old);
    }
}

void ContentLocalFileTexture::setTexture(int tex_id) {
    Platform::setTexCoords(texCoords);
    Texture* slot = getSlot(tex_id);
    if (slot != nullptr) {
        slot->setTexture();
    }
}

}  // namespace Lumetra
