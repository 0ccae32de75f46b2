// The IL client library: components with their event lists and input buffer pools, state
// changes, tunnels. Never calls into a component with one of its own locks held.

#include "ilclient.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "platform/mesa/il/ilclient_state.h"

namespace {

// Every command of this IL core completes within its OMX_SendCommand call; the waits are
// bounded all the same so that a misbehaving component cannot hang its client.
const int kCommandTimeoutMs = 2000;

template <typename T>
void initStructure(T* structure) {
    std::memset(structure, 0, sizeof(*structure));
    structure->nSize = sizeof(*structure);
    structure->nVersion.s.nVersionMajor = 1;
    structure->nVersion.s.nVersionMinor = 1;
    structure->nVersion.s.nRevision = 2;
    structure->nVersion.s.nStep = 0;
}

OMX_ERRORTYPE onEvent(OMX_HANDLETYPE, OMX_PTR app_data, OMX_EVENTTYPE event, OMX_U32 data1,
                      OMX_U32 data2, OMX_PTR) {
    auto* comp = static_cast<COMPONENT_T*>(app_data);
    std::lock_guard<std::mutex> lock(comp->mutex);
    if (comp->events.size() == COMPONENT_T::kKeptEvents) {
        comp->events.pop_front();
    }
    comp->events.push_back({event, data1, data2});
    comp->changed.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE onEmptyBufferDone(OMX_HANDLETYPE, OMX_PTR app_data, OMX_BUFFERHEADERTYPE* header) {
    auto* comp = static_cast<COMPONENT_T*>(app_data);
    std::lock_guard<std::mutex> lock(comp->mutex);
    comp->free_inputs.push_back(header);
    comp->changed.notify_all();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE onFillBufferDone(OMX_HANDLETYPE, OMX_PTR app_data, OMX_BUFFERHEADERTYPE*) {
    auto* comp = static_cast<COMPONENT_T*>(app_data);
    ILCLIENT_BUFFER_CALLBACK_T callback;
    void* userdata;
    {
        std::lock_guard<std::mutex> lock(comp->client->mutex);
        callback = comp->client->fill_buffer_done;
        userdata = comp->client->fill_buffer_done_data;
    }
    if (callback) {
        callback(userdata, comp);
    }
    return OMX_ErrorNone;
}

bool matches(const IlClientEvent& e, OMX_EVENTTYPE event, OMX_U32 data1, int ignore1, OMX_U32 data2,
             int ignore2) {
    return e.event == event && (ignore1 || e.data1 == data1) && (ignore2 || e.data2 == data2);
}

// Removes the first matching event; the caller holds comp->mutex.
bool takeEvent(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 data1, int ignore1, OMX_U32 data2,
               int ignore2) {
    for (auto it = comp->events.begin(); it != comp->events.end(); ++it) {
        if (matches(*it, event, data1, ignore1, data2, ignore2)) {
            comp->events.erase(it);
            return true;
        }
    }
    return false;
}

int waitForCommand(COMPONENT_T* comp, OMX_COMMANDTYPE command, OMX_U32 param) {
    return ilclient_wait_for_event(comp, OMX_EventCmdComplete, command, 0, param, 0,
                                   ILCLIENT_EVENT_ERROR, kCommandTimeoutMs);
}

void disablePort(COMPONENT_T* comp, OMX_U32 port) {
    if (OMX_SendCommand(comp->comp, OMX_CommandPortDisable, port, nullptr) == OMX_ErrorNone) {
        waitForCommand(comp, OMX_CommandPortDisable, port);
    }
}

void disableAllPorts(COMPONENT_T* comp) {
    const OMX_INDEXTYPE domains[] = {OMX_IndexParamVideoInit, OMX_IndexParamAudioInit,
                                     OMX_IndexParamImageInit, OMX_IndexParamOtherInit};
    for (OMX_INDEXTYPE domain : domains) {
        OMX_PORT_PARAM_TYPE ports;
        initStructure(&ports);
        if (OMX_GetParameter(comp->comp, domain, &ports) != OMX_ErrorNone) {
            continue;
        }
        for (OMX_U32 i = 0; i < ports.nPorts; i++) {
            disablePort(comp, ports.nStartPortNumber + i);
        }
    }
}

int enableTunnel(TUNNEL_T* tunnel) {
    COMPONENT_T* source = tunnel->source;
    COMPONENT_T* sink = tunnel->sink;
    if (OMX_SendCommand(source->comp, OMX_CommandPortEnable, tunnel->source_port, nullptr) !=
            OMX_ErrorNone ||
        OMX_SendCommand(sink->comp, OMX_CommandPortEnable, tunnel->sink_port, nullptr) !=
            OMX_ErrorNone) {
        return -1;
    }
    OMX_STATETYPE sink_state = OMX_StateInvalid;
    OMX_GetState(sink->comp, &sink_state);
    if (sink_state == OMX_StateLoaded && ilclient_change_component_state(sink, OMX_StateIdle) < 0) {
        return -1;
    }
    if (waitForCommand(source, OMX_CommandPortEnable, tunnel->source_port) < 0 ||
        waitForCommand(sink, OMX_CommandPortEnable, tunnel->sink_port) < 0) {
        return -1;
    }
    return 0;
}

void releasePayload(const IlClientPayload& payload) {
    if (payload.free_function) {
        payload.free_function(payload.userdata, payload.memory);
    } else {
        std::free(payload.memory);
    }
}

}  // namespace

extern "C" {

ILCLIENT_T* ilclient_init(void) {
    return new ILCLIENT_T();
}

void ilclient_destroy(ILCLIENT_T* handle) {
    delete handle;
}

void ilclient_set_fill_buffer_done_callback(ILCLIENT_T* handle, ILCLIENT_BUFFER_CALLBACK_T func,
                                            void* userdata) {
    std::lock_guard<std::mutex> lock(handle->mutex);
    handle->fill_buffer_done = func;
    handle->fill_buffer_done_data = userdata;
}

int ilclient_create_component(ILCLIENT_T* handle, COMPONENT_T** comp, char* name,
                              ILCLIENT_CREATE_FLAGS_T flags) {
    if (!handle || !comp || !name) {
        return -1;
    }
    auto* created = new COMPONENT_T();
    created->client = handle;
    created->name = name;
    std::string full_name = std::string("OMX.broadcom.") + name;
    OMX_CALLBACKTYPE callbacks = {onEvent, onEmptyBufferDone, onFillBufferDone};
    if (OMX_GetHandle(&created->comp, &full_name[0], created, &callbacks) != OMX_ErrorNone) {
        delete created;
        return -1;
    }
    if (flags & ILCLIENT_DISABLE_ALL_PORTS) {
        disableAllPorts(created);
    }
    *comp = created;
    return 0;
}

void ilclient_cleanup_components(COMPONENT_T* list[]) {
    for (int i = 0; list[i]; i++) {
        COMPONENT_T* comp = list[i];
        if (comp->comp) {
            OMX_FreeHandle(comp->comp);
        }
        // Payloads of ports whose buffers were never disabled; their headers went with
        // the component.
        for (const IlClientPayload& payload : comp->payloads) {
            releasePayload(payload);
        }
        delete comp;
    }
}

int ilclient_change_component_state(COMPONENT_T* comp, OMX_STATETYPE state) {
    if (OMX_SendCommand(comp->comp, OMX_CommandStateSet, state, nullptr) != OMX_ErrorNone) {
        return -1;
    }
    return ilclient_wait_for_event(comp, OMX_EventCmdComplete, OMX_CommandStateSet, 0, state, 0,
                                   ILCLIENT_STATE_CHANGED | ILCLIENT_EVENT_ERROR,
                                   kCommandTimeoutMs) < 0
               ? -1
               : 0;
}

int ilclient_setup_tunnel(TUNNEL_T* tunnel, unsigned int, int timeout) {
    if (!tunnel || !tunnel->source || !tunnel->sink) {
        return -1;
    }
    OMX_STATETYPE source_state = OMX_StateInvalid;
    OMX_GetState(tunnel->source->comp, &source_state);
    if (source_state == OMX_StateLoaded &&
        ilclient_change_component_state(tunnel->source, OMX_StateIdle) < 0) {
        return -1;
    }
    if (timeout) {
        int waited = ilclient_wait_for_event(
            tunnel->source, OMX_EventPortSettingsChanged, tunnel->source_port, 0, 0, 1,
            ILCLIENT_PARAMETER_CHANGED | ILCLIENT_EVENT_ERROR, timeout);
        if (waited < 0) {
            return waited == -2 ? -2 : -1;
        }
    }
    ilclient_disable_tunnel(tunnel);
    if (OMX_SetupTunnel(tunnel->source->comp, tunnel->source_port, tunnel->sink->comp,
                        tunnel->sink_port) != OMX_ErrorNone) {
        return -5;
    }
    if (enableTunnel(tunnel) < 0) {
        OMX_SetupTunnel(tunnel->source->comp, tunnel->source_port, nullptr, 0);
        OMX_SetupTunnel(tunnel->sink->comp, tunnel->sink_port, nullptr, 0);
        return -5;
    }
    return 0;
}

void ilclient_disable_tunnel(TUNNEL_T* tunnel) {
    if (!tunnel || !tunnel->source || !tunnel->sink) {
        return;
    }
    disablePort(tunnel->source, tunnel->source_port);
    disablePort(tunnel->sink, tunnel->sink_port);
}

void ilclient_flush_tunnels(TUNNEL_T* tunnel, int max) {
    for (int i = 0; tunnel[i].source && (max == 0 || i < max); i++) {
        TUNNEL_T* t = &tunnel[i];
        if (!t->sink) {
            continue;
        }
        OMX_SendCommand(t->source->comp, OMX_CommandFlush, t->source_port, nullptr);
        OMX_SendCommand(t->sink->comp, OMX_CommandFlush, t->sink_port, nullptr);
        waitForCommand(t->source, OMX_CommandFlush, t->source_port);
        waitForCommand(t->sink, OMX_CommandFlush, t->sink_port);
    }
}

void ilclient_teardown_tunnels(TUNNEL_T* tunnels) {
    for (int i = 0; tunnels[i].source; i++) {
        OMX_SetupTunnel(tunnels[i].source->comp, tunnels[i].source_port, nullptr, 0);
        if (tunnels[i].sink) {
            OMX_SetupTunnel(tunnels[i].sink->comp, tunnels[i].sink_port, nullptr, 0);
        }
    }
}

int ilclient_enable_port_buffers(COMPONENT_T* comp, int portIndex,
                                 ILCLIENT_MALLOC_T ilclient_malloc, ILCLIENT_FREE_T ilclient_free,
                                 void* userdata) {
    OMX_PARAM_PORTDEFINITIONTYPE definition;
    initStructure(&definition);
    definition.nPortIndex = portIndex;
    if (OMX_GetParameter(comp->comp, OMX_IndexParamPortDefinition, &definition) != OMX_ErrorNone ||
        definition.bEnabled != OMX_FALSE || definition.nBufferCountActual == 0 ||
        definition.nBufferSize == 0) {
        return -1;
    }
    if (OMX_SendCommand(comp->comp, OMX_CommandPortEnable, portIndex, nullptr) != OMX_ErrorNone) {
        return -1;
    }
    const OMX_U32 align = definition.nBufferAlignment ? definition.nBufferAlignment : 16;
    const OMX_U32 size = (definition.nBufferSize + align - 1) / align * align;
    for (OMX_U32 i = 0; i < definition.nBufferCountActual; i++) {
        void* memory = ilclient_malloc
                           ? ilclient_malloc(userdata, size, align, "il client input buffer")
                           : std::aligned_alloc(align, size);
        OMX_BUFFERHEADERTYPE* header = nullptr;
        if (memory && OMX_UseBuffer(comp->comp, &header, portIndex, nullptr, definition.nBufferSize,
                                    static_cast<OMX_U8*>(memory)) == OMX_ErrorNone) {
            comp->payloads.push_back(
                {static_cast<OMX_U32>(portIndex), header, memory, ilclient_free, userdata});
            if (definition.eDir == OMX_DirInput) {
                std::lock_guard<std::mutex> lock(comp->mutex);
                comp->free_inputs.push_back(header);
            }
            continue;
        }
        if (memory) {
            ilclient_free ? ilclient_free(userdata, memory) : std::free(memory);
        }
        ilclient_disable_port_buffers(comp, portIndex, nullptr, ilclient_free, userdata);
        return -1;
    }
    return waitForCommand(comp, OMX_CommandPortEnable, portIndex) < 0 ? -1 : 0;
}

void ilclient_disable_port_buffers(COMPONENT_T* comp, int portIndex, OMX_BUFFERHEADERTYPE*,
                                   ILCLIENT_FREE_T, void*) {
    // The component hands back every buffer it holds before the disable completes; all
    // buffers of the port are then freed, whoever held them.
    OMX_SendCommand(comp->comp, OMX_CommandPortDisable, portIndex, nullptr);
    std::vector<IlClientPayload> kept;
    for (const IlClientPayload& payload : comp->payloads) {
        if (payload.port != static_cast<OMX_U32>(portIndex)) {
            kept.push_back(payload);
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(comp->mutex);
            for (auto it = comp->free_inputs.begin(); it != comp->free_inputs.end(); ++it) {
                if (*it == payload.header) {
                    comp->free_inputs.erase(it);
                    break;
                }
            }
        }
        OMX_FreeBuffer(comp->comp, portIndex, payload.header);
        releasePayload(payload);
    }
    comp->payloads.swap(kept);
    waitForCommand(comp, OMX_CommandPortDisable, portIndex);
}

OMX_BUFFERHEADERTYPE* ilclient_get_input_buffer(COMPONENT_T* comp, int portIndex, int block) {
    std::unique_lock<std::mutex> lock(comp->mutex);
    for (;;) {
        for (auto it = comp->free_inputs.begin(); it != comp->free_inputs.end(); ++it) {
            if ((*it)->nInputPortIndex == static_cast<OMX_U32>(portIndex)) {
                OMX_BUFFERHEADERTYPE* header = *it;
                comp->free_inputs.erase(it);
                return header;
            }
        }
        if (!block) {
            return nullptr;
        }
        comp->changed.wait(lock);
    }
}

int ilclient_remove_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                          OMX_U32 nData2, int ignore2) {
    std::lock_guard<std::mutex> lock(comp->mutex);
    return takeEvent(comp, event, nData1, ignore1, nData2, ignore2) ? 0 : -1;
}

int ilclient_wait_for_event(COMPONENT_T* comp, OMX_EVENTTYPE event, OMX_U32 nData1, int ignore1,
                            OMX_U32 nData2, int ignore2, int event_flag, int suspend) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(suspend);
    std::unique_lock<std::mutex> lock(comp->mutex);
    for (;;) {
        if (takeEvent(comp, event, nData1, ignore1, nData2, ignore2)) {
            return 0;
        }
        if ((event_flag & ILCLIENT_EVENT_ERROR) && event != OMX_EventError &&
            takeEvent(comp, OMX_EventError, 0, 1, 0, 1)) {
            return -2;
        }
        if (suspend < 0) {
            comp->changed.wait(lock);
            continue;
        }
        if (comp->changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return takeEvent(comp, event, nData1, ignore1, nData2, ignore2) ? 0 : -1;
        }
    }
}

OMX_HANDLETYPE ilclient_get_handle(COMPONENT_T* comp) {
    return comp ? comp->comp : nullptr;
}

}  // extern "C"
