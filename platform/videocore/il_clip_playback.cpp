#include "platform/videocore/il_clip_playback.h"

#include <EGL/eglext.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal_exit.h"
#include "regular_file.h"

namespace Lumetra {
namespace Platform {

namespace {

// Port numbers are fixed by the Pi firmware's components (video_decode 130/131,
// video_scheduler 10/11/12, egl_render 220/221, clock 80); the IL client cannot ask for them.
const OMX_U32 kDecoderInput = 130;
const OMX_U32 kDecoderOutput = 131;
const OMX_U32 kSchedulerInput = 10;
const OMX_U32 kSchedulerOutput = 11;
const OMX_U32 kSchedulerClock = 12;
const OMX_U32 kRenderInput = 220;
const OMX_U32 kRenderOutput = 221;
const OMX_U32 kClockOutput = 80;
const int kPacketSize = 81920;  // the most read from the clip into one input buffer
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

// The members of player n that its fill-buffer-done callback needs: one set per player
// number, as the callbacks have no other way to tell the players apart.
struct IlPlayer {
    COMPONENT_T* egl_render;
    OMX_BUFFERHEADERTYPE* eglBuffer;
};
IlPlayer players[3] = {};

}  // namespace

IlClipPlayback::IlClipPlayback(int player, const std::string& f, EGLDisplay d, EGLImageKHR image)
    : n(player), filename(f), display(d), eglImage(image) {
    players[n - 1] = {nullptr, nullptr};
    player_thread = std::thread([this] {
        video_decode_test();
        ended.store(true);
    });
}

IlClipPlayback::~IlClipPlayback() {
    signalStop();
    if (player_thread.joinable()) {
        player_thread.join();
    }
    eglDestroyImageKHR(display, eglImage);
}

void IlClipPlayback::video_decode_test() {
    const char* filename = this->filename.c_str();
    if (eglImage == nullptr) {
        char message[32];
        snprintf(message, sizeof(message), "eglImage%d is null.", n);
        failWith(message);
    }
    COMPONENT_T*& egl_render = players[n - 1].egl_render;
    OMX_BUFFERHEADERTYPE*& eglBuffer = players[n - 1].eglBuffer;
    const std::atomic<bool>& running = video_dec_loop;
    const ILCLIENT_BUFFER_CALLBACK_T callbacks[] = {my_fill_buffer_done1, my_fill_buffer_done2,
                                                    my_fill_buffer_done3};

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
    ilclient_set_fill_buffer_done_callback(client, callbacks[n - 1], this);

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

void IlClipPlayback::my_fill_buffer_done(int n) {
    if (OMX_FillThisBuffer(ILC_GET_HANDLE(players[n - 1].egl_render), players[n - 1].eglBuffer) !=
        OMX_ErrorNone) {
        failWith("OMX_FillThisBuffer failed in callback");
    }
}

void IlClipPlayback::my_fill_buffer_done1(void*, COMPONENT_T*) {
    my_fill_buffer_done(1);
}
void IlClipPlayback::my_fill_buffer_done2(void*, COMPONENT_T*) {
    my_fill_buffer_done(2);
}
void IlClipPlayback::my_fill_buffer_done3(void*, COMPONENT_T*) {
    my_fill_buffer_done(3);
}

// The firmware's clock component paces its clips by itself; lock-step is for the FFmpeg
// player only, and the firmware's clips keep looping from their own start.
void setClipLockStep(bool) {}

ClipPlayback* startClipPlayback(int player, const std::string& filename, EGLDisplay display,
                                EGLContext, EGLImageKHR image) {
    return new IlClipPlayback(player, filename, display, image);
}

}  // namespace Platform
}  // namespace Lumetra
