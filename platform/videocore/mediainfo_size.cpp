#include "platform/videocore/mediainfo_size.h"

#include <cstdlib>
#include <cstring>

#include "platform/videocore/command_reply.h"

namespace Lumetra {

namespace {
const char kMediainfoQuery[] = "mediainfo --Inform=\"Video;info4lumetra|%Width%|%Height%|\" ";
const char kReplyMarker[] = "info4lumetra|";
}  // namespace

bool parseVideoSizeReply(const char* reply, int* size_x, int* size_y) {
    const size_t marker_length = std::strlen(kReplyMarker);
    if (std::strncmp(reply, kReplyMarker, marker_length) != 0) {
        return false;
    }
    const char* rest = reply + marker_length;
    char* end = nullptr;
    long width = std::strtol(rest, &end, 10);
    if (end == rest || *end == '\0') {
        return false;
    }
    rest = end + 1;  // the bar after the width
    long height = std::strtol(rest, &end, 10);
    if (end == rest || width < 1 || height < 1 || width > 65535 || height > 65535) {
        return false;
    }
    *size_x = static_cast<int>(width);
    *size_y = static_cast<int>(height);
    return true;
}

// An outside tool may hang (a clip on a dead network share, a broken install): it gets a
// time limit and is killed after it, and the clip's size counts as unknown.
bool getVideoSize(std::string& filename, int* size_x, int* size_y, bool* timed_out) {
    const std::string command = std::string(kMediainfoQuery) + filename;
    char reply[200] = {0};
    bool late = false;
    const bool answered =
        readCommandReply(command, kVideoSizeTimeoutMs, reply, sizeof(reply), &late);
    if (timed_out != nullptr) {
        *timed_out = late;
    }
    return answered && parseVideoSizeReply(reply, size_x, size_y);
}

}  // namespace Lumetra
