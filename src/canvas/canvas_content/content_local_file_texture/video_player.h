#pragma once

#include <EGL/egl.h>

#include <atomic>
#include <string>
#include <thread>

#include "ilclient.h"
#include "platform/gl.h"

namespace Lumetra {

// Up to three looping H.264 clips, each decoded on a thread of its own into a GL texture.
class VideoPlayer {
  public:
    VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c);
    ~VideoPlayer();

    VideoPlayer(const VideoPlayer&) = delete;
    VideoPlayer& operator=(const VideoPlayer&) = delete;

    // Claims the lowest free player for the clip and the (bound, defined) texture;
    // returns its id 1..3, or 0 when all three are taken. Render thread only.
    int startFreePlayer(std::string filename, GLuint* video_tex_ptr);
    // Stops and joins player 1..3; any other id does nothing.
    void stopPlayer(int player_id);
    // Tells every player to stop, without waiting.
    void sendStopSignal();

  private:
    // The members of player n (1..3), seen together.
    struct Player {
        void** eglImage;
        std::atomic<bool>* video_dec_loop;
        OMX_BUFFERHEADERTYPE** eglBuffer;
        COMPONENT_T** egl_render;
        std::string* filename;
        std::thread* player_thread;
        ILCLIENT_BUFFER_CALLBACK_T callback;
    };
    Player player(int n);
    static Player sharedMembers(int n);

    // The decode thread of player n.
    void video_decode_test(int n);
    static void my_fill_buffer_done(int n);
    static void my_fill_buffer_done1(void* data, COMPONENT_T* comp);
    static void my_fill_buffer_done2(void* data, COMPONENT_T* comp);
    static void my_fill_buffer_done3(void* data, COMPONENT_T* comp);

    bool player_is_free[3];
    EGLDisplay display;
    EGLSurface surface;
    EGLContext context;
    std::thread player_thread_1;
    std::thread player_thread_2;
    std::thread player_thread_3;
    std::string filename1;
    std::string filename2;
    std::string filename3;

    static void* eglImage1;
    static void* eglImage2;
    static void* eglImage3;
    static std::atomic<bool> video_dec_loop1;
    static std::atomic<bool> video_dec_loop2;
    static std::atomic<bool> video_dec_loop3;
    static OMX_BUFFERHEADERTYPE* eglBuffer1;
    static OMX_BUFFERHEADERTYPE* eglBuffer2;
    static OMX_BUFFERHEADERTYPE* eglBuffer3;
    static COMPONENT_T* egl_render1;
    static COMPONENT_T* egl_render2;
    static COMPONENT_T* egl_render3;
};

}  // namespace Lumetra
