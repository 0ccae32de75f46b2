// Stand-in for the Pi's ilclient.h (hello_pi/libs/ilclient): the declarations the video
// player uses, with the library's names, types and values. Used only to compile against
// the Pi's API on machines without the firmware; never linked.
#pragma once

#include "IL/OMX_Broadcom.h"

#ifdef __cplusplus
extern "C" {
#endif

// From interface/vcos/vcos.h.
typedef unsigned int VCOS_UNSIGNED;

typedef struct _ILCLIENT_T ILCLIENT_T;
typedef struct _COMPONENT_T COMPONENT_T;

typedef void (*ILCLIENT_CALLBACK_T)(void* userdata, COMPONENT_T* comp, OMX_U32 data);
typedef void (*ILCLIENT_BUFFER_CALLBACK_T)(void* data, COMPONENT_T* comp);
typedef void* (*ILCLIENT_MALLOC_T)(void* userdata, VCOS_UNSIGNED size, VCOS_UNSIGNED align,
                                   const char* description);
typedef void (*ILCLIENT_FREE_T)(void* userdata, void* pointer);

typedef enum {
    ILCLIENT_EMPTY_BUFFER_DONE = 0x1,
    ILCLIENT_FILL_BUFFER_DONE = 0x2,
    ILCLIENT_PORT_DISABLED = 0x4,
    ILCLIENT_PORT_ENABLED = 0x8,
    ILCLIENT_STATE_CHANGED = 0x10,
    ILCLIENT_BUFFER_FLAG_EOS = 0x20,
    ILCLIENT_PARAMETER_CHANGED = 0x40,
    ILCLIENT_EVENT_ERROR = 0x80,
    ILCLIENT_PORT_FLUSH = 0x100,
    ILCLIENT_MARKED_BUFFER = 0x200,
    ILCLIENT_BUFFER_MARK = 0x400,
    ILCLIENT_CONFIG_CHANGED = 0x800
} ILEVENT_MASK_T;

typedef enum {
    ILCLIENT_FLAGS_NONE = 0x0,
    ILCLIENT_ENABLE_INPUT_BUFFERS = 0x1,
    ILCLIENT_ENABLE_OUTPUT_BUFFERS = 0x2,
    ILCLIENT_DISABLE_ALL_PORTS = 0x4,
    ILCLIENT_HOST_COMPONENT = 0x8,
    ILCLIENT_OUTPUT_ZERO_BUFFERS = 0x10
} ILCLIENT_CREATE_FLAGS_T;

typedef struct {
    COMPONENT_T* source;
    int source_port;
    COMPONENT_T* sink;
    int sink_port;
} TUNNEL_T;

#define set_tunnel(t, a, b, c, d) \
    do {                          \
        TUNNEL_T* _ilct = (t);    \
        _ilct->source = (a);      \
        _ilct->source_port = (b); \
        _ilct->sink = (c);        \
        _ilct->sink_port = (d);   \
    } while (0)

#define ILC_GET_HANDLE(x) ilclient_get_handle(x)

ILCLIENT_T* ilclient_init(void);
void ilclient_destroy(ILCLIENT_T* handle);
void ilclient_set_fill_buffer_done_callback(ILCLIENT_T* handle, ILCLIENT_BUFFER_CALLBACK_T func,
                                            void* userdata);
int ilclient_create_component(ILCLIENT_T* handle, COMPONENT_T** comp, char* name,
                              ILCLIENT_CREATE_FLAGS_T flags);
void ilclient_cleanup_components(COMPONENT_T* list[]);
int ilclient_change_component_state(COMPONENT_T* comp, OMX_STATETYPE state);
int ilclient_setup_tunnel(TUNNEL_T* tunnel, unsigned int portStream, int timeout);
void ilclient_disable_tunnel(TUNNEL_T* tunnel);
void ilclient_flush_tunnels(TUNNEL_T* tunnel, int max);
void ilclient_teardown_tunnels(TUNNEL_T* tunnels);
int ilclient_enable_port_buffers(COMPONENT_T* comp, int portIndex,
                                 ILCLIENT_MALLOC_T ilclient_malloc, ILCLIENT_FREE_T ilclient_free,
                                 void* userdata);
void ilclient_disable_port_buffers(COMPONENT_T* comp, int portIndex,
                                   OMX_BUFFERHEADERTYPE* bufferList, ILCLIENT_FREE_T ilclient_free,
                                   void* userdata);
OMX_BUFFERHEADERTYPE* ilclient_get_input_buffer(COMPONENT_T* comp, int portIndex, int block);
int ilclient_remove_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                          OMX_U32 nData2, int ignore2);
int ilclient_wait_for_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                            OMX_U32 nData2, int ignore2, int event_flag, int suspend);
OMX_HANDLETYPE ilclient_get_handle(COMPONENT_T* comp);

#ifdef __cplusplus
}
#endif
