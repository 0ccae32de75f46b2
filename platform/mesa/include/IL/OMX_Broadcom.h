#pragma once

// The OpenMAX IL 1.1.2 headers plus the VideoCore's own additions that the video player
// uses, with the values the VideoCore firmware gives them.

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Index.h>
#include <OMX_Other.h>
#include <OMX_Video.h>

// Buffer carries data whose presentation time is not known.
#define OMX_BUFFERFLAG_TIME_UNKNOWN 0x00000100
