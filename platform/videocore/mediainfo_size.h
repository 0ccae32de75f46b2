#pragma once

// A clip's size as the outside tool `mediainfo` reports it: the firmware's decoder tells
// nothing before it plays.

#include <string>

namespace Lumetra {

// Asks `mediainfo` for a clip's size; false (sizes untouched) when it cannot tell, also
// when it gives no answer in time (then *timed_out, when given, is set).
bool getVideoSize(std::string& filename, int* size_x, int* size_y, bool* timed_out = nullptr);

// How long mediainfo may take for one clip.
const int kVideoSizeTimeoutMs = 10000;

// Parses a mediainfo reply "info4lumetra|W|H|..."; false unless both are at least 1.
bool parseVideoSizeReply(const char* reply, int* size_x, int* size_y);

}  // namespace Lumetra
