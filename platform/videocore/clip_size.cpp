#include "platform/clip_playback.h"
#include "platform/videocore/mediainfo_size.h"

namespace Lumetra {
namespace Platform {

bool clipPictureSize(const std::string& filename, int* width, int* height, std::string* why_not) {
    std::string name = filename;
    bool timed_out = false;
    if (getVideoSize(name, width, height, &timed_out)) {
        return true;
    }
    if (timed_out && why_not) {
        *why_not =
            "mediainfo gave no answer within " + std::to_string(kVideoSizeTimeoutMs / 1000) + " s";
    }
    return false;
}

bool clipThumbnail(const std::string&, int, std::vector<uint8_t>*, int*, int*) {
    return false;
}

}  // namespace Platform
}  // namespace Lumetra
