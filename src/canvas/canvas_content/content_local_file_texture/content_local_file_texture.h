#pragma once

#include <EGL/egl.h>
#include "platform/gl.h"

#include <string>

#include "canvas/canvas_content/content_interface.h"

namespace Lumetra {

class Texture;
class VideoPlayer;

// The content plug-in "CONTENT_TEXTURE_256": pictures 0..255 from ./textures/NNN.png,
// NNN.gif or NNN.h264, all decoded and uploaded at construction.
class ContentLocalFileTexture : public ContentInterface {
  public:
    static const int kSlots = 256;

    ContentLocalFileTexture(EGLDisplay* d, EGLSurface* s, EGLContext* c);
    ~ContentLocalFileTexture() override;

    std::string getContentTypeName() override;
    void getContentRatio(int content_data, float* ratio) override;
    void setContent(int content_data) override;
    void setTexture(int tex_id);
    Texture* getSlot(int tex_id);

  private:
    void loadSlots();

    Texture* textures[kSlots];
    VideoPlayer* player;
    GLfloat texCoords[8];
    GLfloat texCoordsVid[8];
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
};

}  // namespace Lumetra
