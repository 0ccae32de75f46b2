// Stand-in for the Pi's EGL/eglplatform.h: the standard platform types plus the dispmanx
// native window that the Pi's EGL takes for window surfaces.
#pragma once

#include_next <EGL/eglplatform.h>

#include <stdint.h>

typedef uint32_t DISPMANX_ELEMENT_HANDLE_T;

typedef struct {
    DISPMANX_ELEMENT_HANDLE_T element;
    int width;
    int height;
} EGL_DISPMANX_WINDOW_T;
