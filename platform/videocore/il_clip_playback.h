#pragma once

// One H.264 clip looping through the VideoCore's OpenMAX IL components (video_decode,
// video_scheduler paced by clock, egl_render writing into the texture's EGL image), driven
// through the firmware's IL client library from a decode thread of its own.

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <atomic>
#include <string>
#include <thread>

#include "ilclient.h"
#include "platform/clip_playback.h"

namespace Lumetra {
namespace Platform {

class IlClipPlayback : public ClipPlayback {
  public:
    IlClipPlayback(int player, const std::string& filename, EGLDisplay display, EGLImageKHR image);
    // Clears the run flag and joins the decode thread; then releases the EGL image.
    ~IlClipPlayback() override;

    void signalStop() override { video_dec_loop.store(false); }
    bool hasEnded() const override { return ended.load(); }
    // egl_render writes into the texture until its teardown.
    bool outlivesItsTexture() const override { return false; }

  private:
    void video_decode_test();
    static void my_fill_buffer_done(int n);
    static void my_fill_buffer_done1(void* data, COMPONENT_T* comp);
    static void my_fill_buffer_done2(void* data, COMPONENT_T* comp);
    static void my_fill_buffer_done3(void* data, COMPONENT_T* comp);

    int n;  // the player, 1..3
    std::string filename;
    EGLDisplay display;
    void* eglImage;
    std::atomic<bool> video_dec_loop{true};
    std::atomic<bool> ended{false};
    std::thread player_thread;
};

}  // namespace Platform
}  // namespace Lumetra
