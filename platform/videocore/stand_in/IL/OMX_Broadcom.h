// Stand-in for the Pi's IL/OMX_Broadcom.h: the OpenMAX IL 1.1.2 headers it builds on, and
// the one VideoCore addition that the video player uses, with the firmware's value. Used
// only to compile against the Pi's API on machines without the firmware; never linked.
#pragma once

#include <OMX_Component.h>
#include <OMX_Core.h>
#include <OMX_Index.h>
#include <OMX_Other.h>
#include <OMX_Video.h>

#define OMX_BUFFERFLAG_TIME_UNKNOWN 0x00000100
