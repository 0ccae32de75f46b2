#include "platform/mesa/il/il_component.h"

#include <cstring>

namespace Lumetra {
namespace Platform {
namespace Mesa {

namespace {

IlComponent* self(OMX_HANDLETYPE handle) {
    return IlComponent::of(handle);
}

OMX_ERRORTYPE GetComponentVersion(OMX_HANDLETYPE, OMX_STRING, OMX_VERSIONTYPE*, OMX_VERSIONTYPE*,
                                  OMX_UUIDTYPE*) {
    return OMX_ErrorNotImplemented;
}
OMX_ERRORTYPE SendCommand(OMX_HANDLETYPE h, OMX_COMMANDTYPE cmd, OMX_U32 param, OMX_PTR) {
    return self(h)->sendCommand(cmd, param);
}
OMX_ERRORTYPE GetParameter(OMX_HANDLETYPE h, OMX_INDEXTYPE index, OMX_PTR data) {
    return self(h)->getParameter(index, data);
}
OMX_ERRORTYPE SetParameter(OMX_HANDLETYPE h, OMX_INDEXTYPE index, OMX_PTR data) {
    return self(h)->setParameter(index, data);
}
OMX_ERRORTYPE GetExtensionIndex(OMX_HANDLETYPE, OMX_STRING, OMX_INDEXTYPE*) {
    return OMX_ErrorUnsupportedIndex;
}
OMX_ERRORTYPE GetState(OMX_HANDLETYPE h, OMX_STATETYPE* state) {
    return self(h)->getState(state);
}
OMX_ERRORTYPE ComponentTunnelRequest(OMX_HANDLETYPE h, OMX_U32 port, OMX_HANDLETYPE peer, OMX_U32,
                                     OMX_TUNNELSETUPTYPE*) {
    // Tunnels between these components are joined by the core (OMX_SetupTunnel); a
    // request without a peer tears the port's tunnel down.
    if (peer) {
        return OMX_ErrorNotImplemented;
    }
    self(h)->detachLink(port);
    return OMX_ErrorNone;
}
OMX_ERRORTYPE UseBuffer(OMX_HANDLETYPE h, OMX_BUFFERHEADERTYPE** header, OMX_U32 port,
                        OMX_PTR app_private, OMX_U32 size, OMX_U8* memory) {
    return self(h)->useBuffer(header, port, app_private, size, memory);
}
OMX_ERRORTYPE AllocateBuffer(OMX_HANDLETYPE, OMX_BUFFERHEADERTYPE**, OMX_U32, OMX_PTR, OMX_U32) {
    return OMX_ErrorNotImplemented;
}
OMX_ERRORTYPE FreeBuffer(OMX_HANDLETYPE h, OMX_U32 port, OMX_BUFFERHEADERTYPE* header) {
    return self(h)->freeBuffer(port, header);
}
OMX_ERRORTYPE EmptyThisBuffer(OMX_HANDLETYPE h, OMX_BUFFERHEADERTYPE* header) {
    return header ? self(h)->emptyThisBuffer(header) : OMX_ErrorBadParameter;
}
OMX_ERRORTYPE FillThisBuffer(OMX_HANDLETYPE h, OMX_BUFFERHEADERTYPE* header) {
    return header ? self(h)->fillThisBuffer(header) : OMX_ErrorBadParameter;
}
OMX_ERRORTYPE SetCallbacks(OMX_HANDLETYPE h, OMX_CALLBACKTYPE* callbacks, OMX_PTR app_data) {
    return self(h)->setCallbacks(callbacks, app_data);
}
OMX_ERRORTYPE GetConfig(OMX_HANDLETYPE h, OMX_INDEXTYPE index, OMX_PTR data) {
    return self(h)->getParameter(index, data);
}
OMX_ERRORTYPE SetConfig(OMX_HANDLETYPE h, OMX_INDEXTYPE index, OMX_PTR data) {
    return self(h)->setParameter(index, data);
}
OMX_ERRORTYPE ComponentDeInit(OMX_HANDLETYPE) {
    return OMX_ErrorNone;
}
OMX_ERRORTYPE UseEGLImage(OMX_HANDLETYPE h, OMX_BUFFERHEADERTYPE** header, OMX_U32 port,
                          OMX_PTR app_private, void* image) {
    return header ? self(h)->useEglImage(header, port, app_private, image) : OMX_ErrorBadParameter;
}
OMX_ERRORTYPE ComponentRoleEnum(OMX_HANDLETYPE, OMX_U8*, OMX_U32) {
    return OMX_ErrorNoMore;
}

void setVersion(OMX_VERSIONTYPE* version) {
    version->s.nVersionMajor = 1;
    version->s.nVersionMinor = 1;
    version->s.nRevision = 2;
    version->s.nStep = 0;
}

}  // namespace

IlComponent::IlComponent(std::string name) : name(std::move(name)) {
    std::memset(&omx, 0, sizeof(omx));
    omx.nSize = sizeof(omx);
    setVersion(&omx.nVersion);
    omx.pComponentPrivate = this;
    omx.GetComponentVersion = GetComponentVersion;
    omx.SendCommand = SendCommand;
    omx.GetParameter = GetParameter;
    omx.SetParameter = SetParameter;
    omx.GetConfig = GetConfig;
    omx.SetConfig = SetConfig;
    omx.GetExtensionIndex = GetExtensionIndex;
    omx.GetState = GetState;
    omx.ComponentTunnelRequest = ComponentTunnelRequest;
    omx.UseBuffer = UseBuffer;
    omx.AllocateBuffer = AllocateBuffer;
    omx.FreeBuffer = FreeBuffer;
    omx.EmptyThisBuffer = EmptyThisBuffer;
    omx.FillThisBuffer = FillThisBuffer;
    omx.SetCallbacks = SetCallbacks;
    omx.ComponentDeInit = ComponentDeInit;
    omx.UseEGLImage = UseEGLImage;
    omx.ComponentRoleEnum = ComponentRoleEnum;
}

IlComponent::~IlComponent() {
    // Headers the client never freed (the IL client keeps its payloads, not its headers).
    for (auto& entry : ports) {
        for (OMX_BUFFERHEADERTYPE* header : entry.second.headers) {
            delete header;
        }
        if (entry.second.link) {
            entry.second.link->setEndEnabled(entry.second.direction == OMX_DirOutput, false);
        }
    }
}

IlComponent* IlComponent::of(OMX_HANDLETYPE handle) {
    return static_cast<IlComponent*>(static_cast<OMX_COMPONENTTYPE*>(handle)->pComponentPrivate);
}

void IlComponent::addPort(OMX_U32 index, OMX_DIRTYPE direction, OMX_PORTDOMAINTYPE domain,
                          OMX_U32 buffer_count, OMX_U32 buffer_size) {
    IlPort& port = ports[index];
    port.index = index;
    port.direction = direction;
    port.domain = domain;
    port.buffer_count = buffer_count;
    port.buffer_size = buffer_size;
}

IlPort* IlComponent::findPort(OMX_U32 index) {
    auto it = ports.find(index);
    return it == ports.end() ? nullptr : &it->second;
}

bool IlComponent::hasPort(OMX_U32 port_index, OMX_DIRTYPE direction) {
    std::lock_guard<std::mutex> lock(mutex);
    IlPort* port = findPort(port_index);
    return port && port->direction == direction;
}

OMX_STATETYPE IlComponent::currentState() {
    std::lock_guard<std::mutex> lock(mutex);
    return state;
}

std::shared_ptr<FrameLink> IlComponent::activeLink(OMX_U32 port_index) {
    std::lock_guard<std::mutex> lock(mutex);
    IlPort* port = findPort(port_index);
    return port && port->enabled ? port->link : nullptr;
}

OMX_ERRORTYPE IlComponent::setCallbacks(OMX_CALLBACKTYPE* new_callbacks, OMX_PTR new_app_data) {
    if (!new_callbacks) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    callbacks = *new_callbacks;
    app_data = new_app_data;
    return OMX_ErrorNone;
}

void IlComponent::sendEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2, OMX_PTR data) {
    OMX_CALLBACKTYPE current;
    OMX_PTR current_app_data;
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = callbacks;
        current_app_data = app_data;
    }
    if (current.EventHandler) {
        current.EventHandler(&omx, current_app_data, event, data1, data2, data);
    }
}

void IlComponent::emptyBufferDone(OMX_BUFFERHEADERTYPE* header) {
    OMX_CALLBACKTYPE current;
    OMX_PTR current_app_data;
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = callbacks;
        current_app_data = app_data;
    }
    if (current.EmptyBufferDone) {
        current.EmptyBufferDone(&omx, current_app_data, header);
    }
}

void IlComponent::fillBufferDone(OMX_BUFFERHEADERTYPE* header) {
    OMX_CALLBACKTYPE current;
    OMX_PTR current_app_data;
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = callbacks;
        current_app_data = app_data;
    }
    if (current.FillBufferDone) {
        current.FillBufferDone(&omx, current_app_data, header);
    }
}

OMX_ERRORTYPE IlComponent::getState(OMX_STATETYPE* out) {
    if (!out) {
        return OMX_ErrorBadParameter;
    }
    *out = currentState();
    return OMX_ErrorNone;
}

OMX_ERRORTYPE IlComponent::sendCommand(OMX_COMMANDTYPE command, OMX_U32 param) {
    switch (command) {
        case OMX_CommandStateSet:
            return changeState(static_cast<OMX_STATETYPE>(param));
        case OMX_CommandPortEnable:
            return setPortEnabled(param, true);
        case OMX_CommandPortDisable:
            return setPortEnabled(param, false);
        case OMX_CommandFlush: {
            std::vector<OMX_U32> selected = selectPorts(param);
            if (selected.empty()) {
                return OMX_ErrorBadPortIndex;
            }
            for (OMX_U32 index : selected) {
                onFlush(index);
                sendEvent(OMX_EventCmdComplete, OMX_CommandFlush, index);
            }
            return OMX_ErrorNone;
        }
        default:
            return OMX_ErrorNotImplemented;
    }
}

OMX_ERRORTYPE IlComponent::changeState(OMX_STATETYPE to) {
    if (to != OMX_StateLoaded && to != OMX_StateIdle && to != OMX_StateExecuting &&
        to != OMX_StatePause) {
        return OMX_ErrorBadParameter;
    }
    OMX_STATETYPE from;
    {
        std::lock_guard<std::mutex> lock(mutex);
        from = state;
        state = to;
    }
    if (from != to) {
        onStateChange(from, to);
    }
    sendEvent(OMX_EventCmdComplete, OMX_CommandStateSet, to);
    return OMX_ErrorNone;
}

std::vector<OMX_U32> IlComponent::selectPorts(OMX_U32 param) {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<OMX_U32> selected;
    for (auto& entry : ports) {
        if (param == OMX_ALL || entry.first == param) {
            selected.push_back(entry.first);
        }
    }
    return selected;
}

OMX_ERRORTYPE IlComponent::setPortEnabled(OMX_U32 param, bool enable) {
    std::vector<OMX_U32> selected = selectPorts(param);
    if (selected.empty()) {
        return OMX_ErrorBadPortIndex;
    }
    for (OMX_U32 index : selected) {
        std::shared_ptr<FrameLink> link;
        bool source_end = false;
        bool changed = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            IlPort* port = findPort(index);
            changed = port->enabled != enable;
            port->enabled = enable;
            link = port->link;
            source_end = port->direction == OMX_DirOutput;
        }
        if (link) {
            link->setEndEnabled(source_end, enable);
        }
        if (changed) {
            enable ? onPortEnabled(index) : onPortDisabled(index);
        }
        sendEvent(OMX_EventCmdComplete, enable ? OMX_CommandPortEnable : OMX_CommandPortDisable,
                  index);
    }
    return OMX_ErrorNone;
}

OMX_ERRORTYPE IlComponent::attachLink(OMX_U32 port_index, std::shared_ptr<FrameLink> link) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        IlPort* port = findPort(port_index);
        if (!port) {
            return OMX_ErrorBadPortIndex;
        }
        port->link = link;
        link->setEndEnabled(port->direction == OMX_DirOutput, port->enabled);
    }
    onLinkAttached(port_index, link);
    return OMX_ErrorNone;
}

void IlComponent::detachLink(OMX_U32 port_index) {
    std::shared_ptr<FrameLink> link;
    bool source_end = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        IlPort* port = findPort(port_index);
        if (!port) {
            return;
        }
        link.swap(port->link);
        source_end = port->direction == OMX_DirOutput;
    }
    if (link) {
        link->setEndEnabled(source_end, false);
    }
}

void IlComponent::fillPortDefinition(const IlPort& port, OMX_PARAM_PORTDEFINITIONTYPE* definition) {
    OMX_U32 size = definition->nSize;
    OMX_VERSIONTYPE version = definition->nVersion;
    std::memset(definition, 0, sizeof(*definition));
    definition->nSize = size;
    definition->nVersion = version;
    definition->nPortIndex = port.index;
    definition->eDir = port.direction;
    definition->nBufferCountActual = port.buffer_count;
    definition->nBufferCountMin = port.buffer_count ? 1 : 0;
    definition->nBufferSize = port.buffer_size;
    definition->bEnabled = port.enabled ? OMX_TRUE : OMX_FALSE;
    definition->bPopulated = port.headers.size() >= port.buffer_count ? OMX_TRUE : OMX_FALSE;
    definition->eDomain = port.domain;
    definition->nBufferAlignment = 16;
}

OMX_ERRORTYPE IlComponent::portsOfDomain(OMX_PORTDOMAINTYPE domain, OMX_PORT_PARAM_TYPE* out) {
    OMX_U32 count = 0;
    OMX_U32 first = 0;
    for (auto& entry : ports) {
        if (entry.second.domain == domain) {
            if (count == 0) {
                first = entry.first;
            }
            count++;
        }
    }
    out->nPorts = count;
    out->nStartPortNumber = first;
    return OMX_ErrorNone;
}

OMX_ERRORTYPE IlComponent::getParameter(OMX_INDEXTYPE index, OMX_PTR data) {
    std::lock_guard<std::mutex> lock(mutex);
    switch (index) {
        case OMX_IndexParamPortDefinition: {
            auto* definition = static_cast<OMX_PARAM_PORTDEFINITIONTYPE*>(data);
            if (!fits(definition)) {
                return OMX_ErrorBadParameter;
            }
            IlPort* port = findPort(definition->nPortIndex);
            if (!port) {
                return OMX_ErrorBadPortIndex;
            }
            fillPortDefinition(*port, definition);
            return OMX_ErrorNone;
        }
        case OMX_IndexParamVideoInit:
        case OMX_IndexParamAudioInit:
        case OMX_IndexParamImageInit:
        case OMX_IndexParamOtherInit: {
            auto* out = static_cast<OMX_PORT_PARAM_TYPE*>(data);
            if (!fits(out)) {
                return OMX_ErrorBadParameter;
            }
            OMX_PORTDOMAINTYPE domain = index == OMX_IndexParamVideoInit   ? OMX_PortDomainVideo
                                        : index == OMX_IndexParamAudioInit ? OMX_PortDomainAudio
                                        : index == OMX_IndexParamImageInit ? OMX_PortDomainImage
                                                                           : OMX_PortDomainOther;
            return portsOfDomain(domain, out);
        }
        default:
            return OMX_ErrorUnsupportedIndex;
    }
}

OMX_ERRORTYPE IlComponent::setParameter(OMX_INDEXTYPE, OMX_PTR) {
    return OMX_ErrorUnsupportedIndex;
}

OMX_BUFFERHEADERTYPE* IlComponent::newHeader(OMX_U32 port_index, OMX_PTR app_private, OMX_U32 size,
                                             OMX_U8* memory) {
    auto* header = new OMX_BUFFERHEADERTYPE();
    header->nSize = sizeof(*header);
    setVersion(&header->nVersion);
    header->pBuffer = memory;
    header->nAllocLen = size;
    header->pAppPrivate = app_private;
    header->pPlatformPrivate = this;
    IlPort* port = findPort(port_index);
    if (port->direction == OMX_DirInput) {
        header->nInputPortIndex = port_index;
    } else {
        header->nOutputPortIndex = port_index;
    }
    port->headers.push_back(header);
    return header;
}

OMX_ERRORTYPE IlComponent::useBuffer(OMX_BUFFERHEADERTYPE** header, OMX_U32 port_index,
                                     OMX_PTR app_private, OMX_U32 size, OMX_U8* memory) {
    if (!header || !memory) {
        return OMX_ErrorBadParameter;
    }
    std::lock_guard<std::mutex> lock(mutex);
    IlPort* port = findPort(port_index);
    if (!port || port->link) {
        return OMX_ErrorBadPortIndex;
    }
    if (size < port->buffer_size) {
        return OMX_ErrorBadParameter;
    }
    *header = newHeader(port_index, app_private, size, memory);
    return OMX_ErrorNone;
}

OMX_ERRORTYPE IlComponent::freeBuffer(OMX_U32 port_index, OMX_BUFFERHEADERTYPE* header) {
    std::lock_guard<std::mutex> lock(mutex);
    IlPort* port = findPort(port_index);
    if (!port) {
        return OMX_ErrorBadPortIndex;
    }
    for (auto it = port->headers.begin(); it != port->headers.end(); ++it) {
        if (*it == header) {
            port->headers.erase(it);
            delete header;
            return OMX_ErrorNone;
        }
    }
    return OMX_ErrorBadParameter;
}

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
