#pragma once

// Base of the IL components: the OMX_COMPONENTTYPE function table, states, ports, commands
// and callbacks. Commands complete before OMX_SendCommand returns; their completion events
// still go through the EventHandler callback. Callbacks are never made with `mutex` held.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "IL/OMX_Broadcom.h"
#include "platform/mesa/il/frame_link.h"

namespace Lumetra {
namespace Platform {
namespace Mesa {

struct IlPort {
    OMX_U32 index = 0;
    OMX_DIRTYPE direction = OMX_DirInput;
    OMX_PORTDOMAINTYPE domain = OMX_PortDomainVideo;
    bool enabled = true;
    OMX_U32 buffer_count = 0;
    OMX_U32 buffer_size = 0;
    std::vector<OMX_BUFFERHEADERTYPE*> headers;  // allocated on this port, owned here
    std::shared_ptr<FrameLink> link;             // while tunnelled
};

class IlComponent {
  public:
    explicit IlComponent(std::string name);
    virtual ~IlComponent();

    IlComponent(const IlComponent&) = delete;
    IlComponent& operator=(const IlComponent&) = delete;

    OMX_HANDLETYPE handle() { return &omx; }
    static IlComponent* of(OMX_HANDLETYPE handle);
    const std::string& getName() const { return name; }

    // Ends the component's own threads; called by the core before deletion.
    virtual void shutDown() {}

    OMX_ERRORTYPE setCallbacks(OMX_CALLBACKTYPE* callbacks, OMX_PTR app_data);
    OMX_ERRORTYPE sendCommand(OMX_COMMANDTYPE command, OMX_U32 param);
    OMX_ERRORTYPE getState(OMX_STATETYPE* state);
    virtual OMX_ERRORTYPE getParameter(OMX_INDEXTYPE index, OMX_PTR data);
    virtual OMX_ERRORTYPE setParameter(OMX_INDEXTYPE index, OMX_PTR data);
    OMX_ERRORTYPE useBuffer(OMX_BUFFERHEADERTYPE** header, OMX_U32 port_index, OMX_PTR app_private,
                            OMX_U32 size, OMX_U8* memory);
    OMX_ERRORTYPE freeBuffer(OMX_U32 port_index, OMX_BUFFERHEADERTYPE* header);
    virtual OMX_ERRORTYPE emptyThisBuffer(OMX_BUFFERHEADERTYPE*) { return OMX_ErrorNotImplemented; }
    virtual OMX_ERRORTYPE fillThisBuffer(OMX_BUFFERHEADERTYPE*) { return OMX_ErrorNotImplemented; }
    virtual OMX_ERRORTYPE useEglImage(OMX_BUFFERHEADERTYPE**, OMX_U32, OMX_PTR, void*) {
        return OMX_ErrorNotImplemented;
    }

    // The core's side of OMX_SetupTunnel: both ends of a tunnel share one link.
    OMX_ERRORTYPE attachLink(OMX_U32 port_index, std::shared_ptr<FrameLink> link);
    void detachLink(OMX_U32 port_index);
    bool hasPort(OMX_U32 port_index, OMX_DIRTYPE direction);

  protected:
    void addPort(OMX_U32 index, OMX_DIRTYPE direction, OMX_PORTDOMAINTYPE domain,
                 OMX_U32 buffer_count = 0, OMX_U32 buffer_size = 0);
    IlPort* findPort(OMX_U32 index);  // callers hold `mutex`
    OMX_STATETYPE currentState();
    // The link of an enabled port, or null.
    std::shared_ptr<FrameLink> activeLink(OMX_U32 port_index);

    void sendEvent(OMX_EVENTTYPE event, OMX_U32 data1, OMX_U32 data2, OMX_PTR data = nullptr);
    void emptyBufferDone(OMX_BUFFERHEADERTYPE* header);
    void fillBufferDone(OMX_BUFFERHEADERTYPE* header);
    OMX_BUFFERHEADERTYPE* newHeader(OMX_U32 port_index, OMX_PTR app_private, OMX_U32 size,
                                    OMX_U8* memory);

    // Hooks run by sendCommand without `mutex` held, before completion is reported.
    virtual void onStateChange(OMX_STATETYPE /*from*/, OMX_STATETYPE /*to*/) {}
    virtual void onPortEnabled(OMX_U32 /*port*/) {}
    virtual void onPortDisabled(OMX_U32 /*port*/) {}
    virtual void onFlush(OMX_U32 /*port*/) {}
    virtual void onLinkAttached(OMX_U32 /*port*/, const std::shared_ptr<FrameLink>& /*link*/) {}
    // Checks a parameter's size and version before it is read or written.
    template <typename T>
    static bool fits(const T* data) {
        return data && data->nSize == sizeof(T) && data->nVersion.s.nVersionMajor == 1;
    }

    std::mutex mutex;

  private:
    OMX_ERRORTYPE changeState(OMX_STATETYPE to);
    std::vector<OMX_U32> selectPorts(OMX_U32 param);
    OMX_ERRORTYPE setPortEnabled(OMX_U32 param, bool enable);
    void fillPortDefinition(const IlPort& port, OMX_PARAM_PORTDEFINITIONTYPE* definition);
    OMX_ERRORTYPE portsOfDomain(OMX_PORTDOMAINTYPE domain, OMX_PORT_PARAM_TYPE* ports);

    const std::string name;
    OMX_COMPONENTTYPE omx;
    OMX_STATETYPE state = OMX_StateLoaded;
    std::map<OMX_U32, IlPort> ports;
    OMX_CALLBACKTYPE callbacks{};
    OMX_PTR app_data = nullptr;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
