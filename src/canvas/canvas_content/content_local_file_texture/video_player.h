#pragma once

#include <EGL/egl.h>

#include <string>
#include <vector>

#include "platform/clip_playback.h"
#include "platform/gl.h"

namespace Lumetra {

// Up to three looping clips, each played by the platform on threads of its own into a GL
// texture.
class VideoPlayer {
  public:
    VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c);
    ~VideoPlayer();

    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    // Claims the lowest free player for the clip and the (bound, defined) texture;
    // returns its id 1..3, or 0 when all three are taken. Render thread only.
    int startFreePlayer(std::string filename, GLuint* video_tex_ptr);
    // Stops player 1..3 and frees it for another clip; any other id does nothing. Returns
    // at once where the platform's playback can wind down after its texture is deleted.
    void stopPlayer(int player_id);
    // Tells every player to stop, without waiting.
    void sendStopSignal();

  private:
    // Deletes the stopped playbacks that have ended by now.
    void reapEnded();

    bool player_is_free[3];
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
    Platform::ClipPlayback* playback[3] = {nullptr, nullptr, nullptr};
    // Stopped, still winding down; deleted once ended, or by the destructor.
    std::vector<Platform::ClipPlayback*> stopping;
};

}  // namespace Lumetra
