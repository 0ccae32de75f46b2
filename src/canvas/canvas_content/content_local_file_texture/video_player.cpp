#include "canvas/canvas_content/content_local_file_texture/video_player.h"

#include <EGL/eglext.h>

#include <cstdint>
#include <cstdio>

#include "fatal_exit.h"

namespace Lumetra {

VideoPlayer::VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c)
    : player_is_free{true, true, true}, display(*d), surface(*s), context(*c) {}

VideoPlayer::~VideoPlayer() {
    sendStopSignal();
    for (Platform::ClipPlayback*& p : playback) {
        delete p;
        p = nullptr;
    }
    for (Platform::ClipPlayback* p : stopping) {
        delete p;
    }
}

int VideoPlayer::startFreePlayer(std::string filename, GLuint* video_tex_ptr) {
    reapEnded();
    int n = 0;
    for (int i = 0; i < 3 && n == 0; i++) {
        if (player_is_free[i]) {
            player_is_free[i] = false;
            n = i + 1;
        }
    }
    if (n == 0) {
        return 0;
    }
    EGLImageKHR image = eglCreateImageKHR(display, context, EGL_GL_TEXTURE_2D_KHR,
                                          (EGLClientBuffer)(uintptr_t)*video_tex_ptr, nullptr);
    if (image == EGL_NO_IMAGE_KHR) {
        // Ends the process from here while the other players run on: no destructors.
        fatalExit(stdout, "eglCreateImageKHR%d failed.\n", n);
    }
    playback[n - 1] = Platform::startClipPlayback(n, filename, display, context, image);
    return n;
}

void VideoPlayer::stopPlayer(int player_id) {
    if (player_id < 1 || player_id > 3 || playback[player_id - 1] == nullptr) {
        return;
    }
    Platform::ClipPlayback* p = playback[player_id - 1];
    playback[player_id - 1] = nullptr;
    p->signalStop();
    if (p->outlivesItsTexture()) {
        stopping.push_back(p);
    } else {
        delete p;
    }
    player_is_free[player_id - 1] = true;
    reapEnded();
}

void VideoPlayer::sendStopSignal() {
    for (Platform::ClipPlayback* p : playback) {
        if (p) {
            p->signalStop();
        }
    }
}

void VideoPlayer::reapEnded() {
    for (size_t i = 0; i < stopping.size();) {
        if (stopping[i]->hasEnded()) {
            delete stopping[i];
            stopping[i] = stopping.back();
            stopping.pop_back();
        } else {
            i++;
        }
    }
}

}  // namespace Lumetra
