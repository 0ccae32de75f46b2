#pragma once

#include <EGL/egl.h>
#include "platform/gl.h"

#include <string>
#include <vector>

#include "canvas/canvas_content/content_interface.h"
#include "canvas/canvas_content/content_local_file_texture/slot_reloader.h"

namespace Lumetra {

class PictureUpload;
class SlotReloader;
class Texture;
class TexturePool;
class VideoPlayer;

// The content plug-in "CONTENT_TEXTURE_256": pictures 0..255 from ./textures/ (SlotFiles
// names them), all decoded and uploaded at construction; afterwards, unless reloading is
// off, a changed file replaces its slot's picture between frames.
class ContentLocalFileTexture : public ContentInterface {
  public:
    static const int kSlots = 256;

    ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c);
    ~ContentLocalFileTexture() override;

    std::string getContentTypeName() override;
    void getContentRatio(int content_data, float* ratio) override;
    void setContent(int content_data) override;
    void frameBoundary() override;
    void setTexture(int tex_id);
    Texture* getSlot(int tex_id);

  private:
    void loadSlots(const PictureLimits& limits, const SlotFiles& files);
    void accept(SlotReloader::Reload& reload);
    void dropUpload(int slot);
    // Takes the slot's texture out: a clip's at once (its player is needed), others a
    // frame later.
    void retire(int slot);

    Texture* textures[kSlots];
    VideoPlayer* player;
    GLfloat texCoords[8];
    GLfloat texCoordsVid[8];
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
    SlotReloader* reloader = nullptr;     // null when reloading is off
    std::vector<PictureUpload*> uploads;  // under way, oldest first; owned
    std::vector<Texture*> retired;        // replaced in the last frame, deleted in the next
    TexturePool* pool = nullptr;          // stills' textures for reuse; owned
};

}  // namespace Lumetra
