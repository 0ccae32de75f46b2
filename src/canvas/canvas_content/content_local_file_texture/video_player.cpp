#include "canvas/canvas_content/content_local_file_texture/video_player.h"

#include <EGL/eglext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal_exit.h"
#include "regular_file.h"

namespace Lumetra {

namespace {

const OMX_U32 kDecoderInput = 130;
const OMX_U32 kDecoderOutput = 131;
const OMX_U32 kSchedulerInput = 10;
const OMX_U32 kSchedulerOutput = 11;
const OMX_U32 kSchedulerClock = 12;
const OMX_U32 kRenderInput = 220;
const OMX_U32 kRenderOutput = 221;
const OMX_U32 kClockOutput = 80;
const int kPacketSize = 81920;
const int kFormatWaitMs = 10000;
const int kRenderTunnelWaitMs = 1000;
// How often a thread waiting for a free input buffer looks at its run flag.
const useconds_t kInputPollUs = 10000;

template <typename T>
void setVersion(T* structure) {
    structure->nVersion.nVersion = 0;
    structure->nVersion.s.nVersionMajor = 1;
    structure->nVersion.s.nVersionMinor = 1;
    structure->nVersion.s.nRevision = 2;
    structure->nVersion.s.nStep = 0;
}

// A fatal video failure ends the process from whichever thread meets it, while the render
// loop and the other players run on: leave without running destructors under them.
[[noreturn]] void failWith(const char* message) {
    fatalExit(stdout, "%s\n", message);
}

// The next free decoder input buffer, or null once the run flag is cleared while none is
// free: the decoder may hold every buffer for as long as its pictures take to show.
OMX_BUFFERHEADERTYPE* waitForInputBuffer(COMPONENT_T* video_decode,
                                         const std::atomic<bool>& running) {
    for (;;) {
        OMX_BUFFERHEADERTYPE* buf = ilclient_get_input_buffer(video_decode, kDecoderInput, 0);
        if (buf || !running.load()) {
            return buf;
        }
        usleep(kInputPollUs);
    }
}

}  // namespace

void* VideoPlayer::eglImage1 = nullptr;
void* VideoPlayer::eglImage2 = nullptr;
void* VideoPlayer::eglImage3 = nullptr;
std::atomic<bool> VideoPlayer::video_dec_loop1(true);
std::atomic<bool> VideoPlayer::video_dec_loop2(true);
std::atomic<bool> VideoPlayer::video_dec_loop3(true);
OMX_BUFFERHEADERTYPE* VideoPlayer::eglBuffer1 = nullptr;
OMX_BUFFERHEADERTYPE* VideoPlayer::eglBuffer2 = nullptr;
OMX_BUFFERHEADERTYPE* VideoPlayer::eglBuffer3 = nullptr;
COMPONENT_T* VideoPlayer::egl_render1 = nullptr;
COMPONENT_T* VideoPlayer::egl_render2 = nullptr;
COMPONENT_T* VideoPlayer::egl_render3 = nullptr;

VideoPlayer::VideoPlayer(EGLDisplay* d, EGLSurface* s, EGLContext* c)
    : player_is_free{true, true, true}, display(*d), surface(*s), context(*c) {
    // The per-player members belong to the class; a new player object starts them afresh
    // (all earlier threads have been joined before their player object went away).
    for (int n = 1; n <= 3; n++) {
        Player p = sharedMembers(n);
        *p.eglImage = nullptr;
        p.video_dec_loop->store(true);
        *p.eglBuffer = nullptr;
        *p.egl_render = nullptr;
    }
}

VideoPlayer::~VideoPlayer() {
    // Destroying a joinable thread would end the process; a player still running is
    // stopped and joined here instead.
    for (int n = 1; n <= 3; n++) {
        if (player(n).player_thread->joinable()) {
            stopPlayer(n);
        }
    }
}

VideoPlayer::Player VideoPlayer::sharedMembers(int n) {
    switch (n) {
        case 1:
            return {&eglImage1, &video_dec_loop1, &eglBuffer1,         &egl_render1,
                    nullptr,    nullptr,          my_fill_buffer_done1};
        case 2:
            return {&eglImage2, &video_dec_loop2, &eglBuffer2,         &egl_render2,
                    nullptr,    nullptr,          my_fill_buffer_done2};
        default:
            return {&eglImage3, &video_dec_loop3, &eglBuffer3,         &egl_render3,
                    nullptr,    nullptr,          my_fill_buffer_done3};
    }
}

VideoPlayer::Player VideoPlayer::player(int n) {
    Player p = sharedMembers(n);
    p.filename = n == 1 ? &filename1 : n == 2 ? &filename2 : &filename3;
    p.player_thread = n == 1 ? &player_thread_1 : n == 2 ? &player_thread_2 : &player_thread_3;
    return p;
}

int VideoPlayer::startFreePlayer(std::string filename, GLuint* video_tex_ptr) {
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
    Player p = player(n);
    *p.eglImage = eglCreateImageKHR(display, context, EGL_GL_TEXTURE_2D_KHR,
                                    (EGLClientBuffer)(uintptr_t)*video_tex_ptr, nullptr);
    if (*p.eglImage == nullptr) {
        char message[32];
        snprintf(message, sizeof(message), "eglCreateImageKHR%d failed.", n);
        failWith(message);
    }
    *p.filename = filename;
    *p.player_thread = std::thread(&VideoPlayer::video_decode_test, this, n);
    return n;
}

void VideoPlayer::stopPlayer(int player_id) {
    if (player_id < 1 || player_id > 3) {
        return;
    }
    Player p = player(player_id);
    p.video_dec_loop->store(false);
    if (p.player_thread->joinable()) {
        p.player_thread->join();
    }
}

void VideoPlayer::sendStopSignal() {
    video_dec_loop1.store(false);
    video_dec_loop2.store(false);
    video_dec_loop3.store(false);
}

void VideoPlayer::video_decode_test(int n) {
    Player p = player(n);
    const char* filename = p.filename->c_str();
    if (*p.eglImage == nullptr) {
        char message[32];
        snprintf(message, sizeof(message), "eglImage%d is null.", n);
        failWith(message);
    }
    void* eglImage = *p.eglImage;
    COMPONENT_T*& egl_render = *p.egl_render;
    OMX_BUFFERHEADERTYPE*& eglBuffer = *p.eglBuffer;
    const std::atomic<bool>& running = *p.video_dec_loop;

    COMPONENT_T* video_decode = nullptr;
    COMPONENT_T* video_scheduler = nullptr;
    COMPONENT_T* clock = nullptr;
    COMPONENT_T* list[5];
    TUNNEL_T tunnel[4];
    int status = 0;
    unsigned int data_len = 0;
    int packet_size = kPacketSize;
    memset(list, 0, sizeof(list));
    memset(tunnel, 0, sizeof(tunnel));

    // Found a regular file at start-up; one swapped for a FIFO since must not block the
    // thread (the tear-down joins it).
    FILE* in = openRegularFile(filename);
    if (!in) {
        return;
    }
    ILCLIENT_T* client = ilclient_init();
    if (client == nullptr) {
        fclose(in);
        return;
    }
    if (OMX_Init() != OMX_ErrorNone) {
        ilclient_destroy(client);
        fclose(in);
        return;
    }
    ilclient_set_fill_buffer_done_callback(client, p.callback, this);

    char video_decode_name[] = "video_decode";
    char egl_render_name[] = "egl_render";
    char clock_name[] = "clock";
    char video_scheduler_name[] = "video_scheduler";
    if (ilclient_create_component(client, &video_decode, video_decode_name,
                                  (ILCLIENT_CREATE_FLAGS_T)(ILCLIENT_DISABLE_ALL_PORTS |
                                                            ILCLIENT_ENABLE_INPUT_BUFFERS)) != 0) {
        status = -14;
    }
    list[0] = video_decode;
    if (status == 0 &&
        ilclient_create_component(client, &egl_render, egl_render_name,
                                  (ILCLIENT_CREATE_FLAGS_T)(ILCLIENT_DISABLE_ALL_PORTS |
                                                            ILCLIENT_ENABLE_OUTPUT_BUFFERS)) != 0) {
        status = -14;
    }
    list[1] = egl_render;
    if (status == 0 &&
        ilclient_create_component(client, &clock, clock_name, ILCLIENT_DISABLE_ALL_PORTS) != 0) {
        status = -14;
    }
    list[2] = clock;

    OMX_TIME_CONFIG_CLOCKSTATETYPE cstate;
    memset(&cstate, 0, sizeof(cstate));
    cstate.nSize = sizeof(cstate);
    setVersion(&cstate);
    cstate.eState = OMX_TIME_ClockStateWaitingForStartTime;
    cstate.nWaitMask = 1;
    if (clock != nullptr && OMX_SetParameter(ILC_GET_HANDLE(clock), OMX_IndexConfigTimeClockState,
                                             &cstate) != OMX_ErrorNone) {
        status = -13;
    }
    if (status == 0 && ilclient_create_component(client, &video_scheduler, video_scheduler_name,
                                                 ILCLIENT_DISABLE_ALL_PORTS) != 0) {
        status = -14;
    }
    list[3] = video_scheduler;

    set_tunnel(tunnel, video_decode, kDecoderOutput, video_scheduler, kSchedulerInput);
    set_tunnel(tunnel + 1, video_scheduler, kSchedulerOutput, egl_render, kRenderInput);
    set_tunnel(tunnel + 2, clock, kClockOutput, video_scheduler, kSchedulerClock);

    if (status == 0) {
        if (ilclient_setup_tunnel(tunnel + 2, 0, 0) != 0) {
            status = -15;
        } else {
            ilclient_change_component_state(clock, OMX_StateExecuting);
        }
    }
    if (status == 0) {
        ilclient_change_component_state(video_decode, OMX_StateIdle);
    }

    OMX_VIDEO_PARAM_PORTFORMATTYPE format;
    memset(&format, 0, sizeof(format));
    format.nSize = sizeof(format);
    setVersion(&format);
    format.nPortIndex = kDecoderInput;
    format.eCompressionFormat = OMX_VIDEO_CodingAVC;

    if (status == 0 &&
        OMX_SetParameter(ILC_GET_HANDLE(video_decode), OMX_IndexParamVideoPortFormat, &format) ==
            OMX_ErrorNone &&
        ilclient_enable_port_buffers(video_decode, kDecoderInput, nullptr, nullptr, nullptr) == 0) {
        OMX_BUFFERHEADERTYPE* buf;
        int port_settings_changed = 0;
        int first_packet = 1;

        ilclient_change_component_state(video_decode, OMX_StateExecuting);

        while ((buf = waitForInputBuffer(video_decode, running)) != nullptr && running.load()) {
            unsigned char* dest = buf->pBuffer;
            // Never more than the buffer holds.
            size_t room = static_cast<size_t>(packet_size) - data_len;
            if (room > buf->nAllocLen) {
                room = buf->nAllocLen;
            }
            if (feof(in)) {
                rewind(in);
            }
            data_len += fread(dest, 1, room, in);
            if (data_len == 0 && feof(in)) {
                rewind(in);
                data_len += fread(dest, 1, room, in);
            }

            if (port_settings_changed == 0 &&
                ((data_len > 0 && ilclient_remove_event(video_decode, OMX_EventPortSettingsChanged,
                                                        kDecoderOutput, 0, 0, 1) == 0) ||
                 (data_len == 0 &&
                  ilclient_wait_for_event(
                      video_decode, OMX_EventPortSettingsChanged, kDecoderOutput, 0, 0, 1,
                      ILCLIENT_EVENT_ERROR | ILCLIENT_PARAMETER_CHANGED, kFormatWaitMs) == 0))) {
                port_settings_changed = 1;

                if (ilclient_setup_tunnel(tunnel, 0, 0) != 0) {
                    status = -7;
                    break;
                }
                ilclient_change_component_state(video_scheduler, OMX_StateExecuting);

                if (ilclient_setup_tunnel(tunnel + 1, 0, kRenderTunnelWaitMs) != 0) {
                    status = -12;
                    break;
                }
                ilclient_change_component_state(egl_render, OMX_StateIdle);
                if (OMX_SendCommand(ILC_GET_HANDLE(egl_render), OMX_CommandPortEnable,
                                    kRenderOutput, nullptr) != OMX_ErrorNone) {
                    failWith("OMX_CommandPortEnable failed.");
                }
                if (OMX_UseEGLImage(ILC_GET_HANDLE(egl_render), &eglBuffer, kRenderOutput, nullptr,
                                    eglImage) != OMX_ErrorNone) {
                    failWith("OMX_UseEGLImage failed.");
                }
                ilclient_change_component_state(egl_render, OMX_StateExecuting);
                if (OMX_FillThisBuffer(ILC_GET_HANDLE(egl_render), eglBuffer) != OMX_ErrorNone) {
                    failWith("OMX_FillThisBuffer failed.");
                }
            }
            if (!data_len) {
                break;
            }

            buf->nFilledLen = data_len;
            data_len = 0;
            buf->nOffset = 0;
            if (first_packet) {
                buf->nFlags = OMX_BUFFERFLAG_STARTTIME;
                first_packet = 0;
            } else {
                buf->nFlags = OMX_BUFFERFLAG_TIME_UNKNOWN;
            }
            if (OMX_EmptyThisBuffer(ILC_GET_HANDLE(video_decode), buf) != OMX_ErrorNone) {
                status = -6;
                break;
            }
        }

        // The buffer in hand, if the loop ended with one, carries the end of the stream.
        if (buf != nullptr) {
            buf->nFilledLen = 0;
            buf->nFlags = OMX_BUFFERFLAG_TIME_UNKNOWN | OMX_BUFFERFLAG_EOS;
            if (OMX_EmptyThisBuffer(ILC_GET_HANDLE(video_decode), buf) != OMX_ErrorNone) {
                status = -20;
            }
        }
        ilclient_flush_tunnels(tunnel, 0);
        ilclient_disable_port_buffers(video_decode, kDecoderInput, nullptr, nullptr, nullptr);
    }

    fclose(in);
    ilclient_disable_tunnel(tunnel);
    ilclient_disable_tunnel(tunnel + 1);
    ilclient_disable_tunnel(tunnel + 2);
    ilclient_teardown_tunnels(tunnel);
    ilclient_cleanup_components(list);
    OMX_Deinit();
    ilclient_destroy(client);
}

void VideoPlayer::my_fill_buffer_done(int n) {
    Player p = sharedMembers(n);
    if (OMX_FillThisBuffer(ILC_GET_HANDLE(*p.egl_render), *p.eglBuffer) != OMX_ErrorNone) {
        failWith("OMX_FillThisBuffer failed in callback");
    }
}

void VideoPlayer::my_fill_buffer_done1(void*, COMPONENT_T*) {
    my_fill_buffer_done(1);
}
void VideoPlayer::my_fill_buffer_done2(void*, COMPONENT_T*) {
    my_fill_buffer_done(2);
}
void VideoPlayer::my_fill_buffer_done3(void*, COMPONENT_T*) {
    my_fill_buffer_done(3);
}

}  // namespace Lumetra
