#pragma once

// What the IL client keeps per client and per component.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ilclient.h"

struct IlClientEvent {
    OMX_EVENTTYPE event;
    OMX_U32 data1;
    OMX_U32 data2;
};

struct IlClientPayload {
    OMX_U32 port;
    OMX_BUFFERHEADERTYPE* header;
    void* memory;
    ILCLIENT_FREE_T free_function;
    void* userdata;
};

struct _ILCLIENT_T {
    std::mutex mutex;
    ILCLIENT_BUFFER_CALLBACK_T fill_buffer_done = nullptr;
    void* fill_buffer_done_data = nullptr;
};

struct _COMPONENT_T {
    static constexpr size_t kKeptEvents = 64;

    OMX_HANDLETYPE comp = nullptr;
    ILCLIENT_T* client = nullptr;
    std::string name;
    // Guarded by `mutex`:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<IlClientEvent> events;
    std::deque<OMX_BUFFERHEADERTYPE*> free_inputs;  // input buffers back from the component
    // Touched only by the thread that owns the component:
    std::vector<IlClientPayload> payloads;
};
