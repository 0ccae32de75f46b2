#pragma once

// One screen on a DRM/KMS card: the device, the connector, its mode and the CRTC that
// drives it, and the CRTC state found there before, so that the text console comes back.

#include <xf86drmMode.h>

#include <cstdint>
#include <string>

namespace Lumetra {
namespace Platform {
namespace Mesa {

// A mode request "WIDTHxHEIGHT" or "WIDTHxHEIGHT@REFRESH"; refresh 0 takes any.
struct KmsModeRequest {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t refresh = 0;
};

// False for anything but the two forms above with sides 1..16384 and refresh 1..1000.
bool parseKmsMode(const char* text, KmsModeRequest* request);

class KmsOutput {
  public:
    KmsOutput() = default;
    ~KmsOutput();

    KmsOutput(const KmsOutput&) = delete;
    KmsOutput& operator=(const KmsOutput&) = delete;

    // Opens `device` (or, when empty, the first /dev/dri/card* with a connected connector)
    // and chooses the connector named `connector` (or the first connected one) and the mode
    // `mode` (or the connector's preferred one). False with failure() set when it cannot;
    // it then holds nothing open.
    bool open(const std::string& device, const std::string& connector, const char* mode);

    // Puts back the CRTC state found by open() and closes the device.
    void close();

    int fd() const { return card_fd; }
    uint32_t crtcId() const { return crtc_id; }
    uint32_t connectorId() const { return connector_id; }
    drmModeModeInfo* mode() { return &chosen_mode; }
    const std::string& device() const { return device_path; }
    const std::string& failure() const { return reason; }

  private:
    bool openCard(const std::string& path, const std::string& connector, const char* mode);
    bool chooseConnector(int fd, drmModeRes* resources, const std::string& wanted,
                         const char* mode);
    bool chooseMode(drmModeConnector* connector, const char* wanted);
    bool chooseCrtc(int fd, drmModeRes* resources, drmModeConnector* connector);
    bool fail(const std::string& path, const std::string& why);

    int card_fd = -1;
    uint32_t crtc_id = 0;
    uint32_t connector_id = 0;
    drmModeModeInfo chosen_mode = {};
    drmModeCrtc* saved_crtc = nullptr;
    std::string device_path;
    std::string connector_name;
    std::string reason;
};

}  // namespace Mesa
}  // namespace Platform
}  // namespace Lumetra
