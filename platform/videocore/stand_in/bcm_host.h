// Stand-in declarations of the Raspberry Pi firmware's bcm_host.h and the dispmanx types it
// brings in, as the Pi's userland headers declare them. Used only to compile the
// videocore platform on machines without the firmware libraries; never linked.
#pragma once

#include <stdint.h>

#include <EGL/egl.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint32_t DISPMANX_DISPLAY_HANDLE_T;
typedef uint32_t DISPMANX_UPDATE_HANDLE_T;
typedef uint32_t DISPMANX_ELEMENT_HANDLE_T;  // also in EGL/eglplatform.h, same type
typedef uint32_t DISPMANX_RESOURCE_HANDLE_T;
typedef uint32_t DISPMANX_PROTECTION_T;
#define DISPMANX_PROTECTION_NONE 0

typedef struct tag_VC_RECT_T {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
} VC_RECT_T;

typedef enum {
    DISPMANX_FLAGS_ALPHA_FROM_SOURCE = 0,
    DISPMANX_FLAGS_ALPHA_FIXED_ALL_PIXELS = 1,
    DISPMANX_FLAGS_ALPHA_FIXED_NON_ZERO = 2,
    DISPMANX_FLAGS_ALPHA_FIXED_EXCEED_0X07 = 3,
    DISPMANX_FLAGS_ALPHA_PREMULT = 1 << 16,
    DISPMANX_FLAGS_ALPHA_MIX = 1 << 17
} DISPMANX_FLAGS_ALPHA_T;

typedef struct {
    DISPMANX_FLAGS_ALPHA_T flags;
    uint32_t opacity;
    DISPMANX_RESOURCE_HANDLE_T mask;
} VC_DISPMANX_ALPHA_T;

typedef enum {
    DISPMANX_FLAGS_CLAMP_NONE = 0,
    DISPMANX_FLAGS_CLAMP_LUMA_TRANSPARENT = 1,
    DISPMANX_FLAGS_CLAMP_TRANSPARENT = 2,
    DISPMANX_FLAGS_CLAMP_REPLACE = 3
} DISPMANX_FLAGS_CLAMP_T;

typedef enum {
    DISPMANX_FLAGS_KEYMASK_OVERRIDE = 1,
    DISPMANX_FLAGS_KEYMASK_SMOOTH = 1 << 1,
    DISPMANX_FLAGS_KEYMASK_CR_INV = 1 << 2,
    DISPMANX_FLAGS_KEYMASK_CB_INV = 1 << 3,
    DISPMANX_FLAGS_KEYMASK_YY_INV = 1 << 4
} DISPMANX_FLAGS_KEYMASK_T;

typedef union {
    struct {
        uint8_t yy_upper;
        uint8_t yy_lower;
        uint8_t cr_upper;
        uint8_t cr_lower;
        uint8_t cb_upper;
        uint8_t cb_lower;
    } yuv;
    struct {
        uint8_t red_upper;
        uint8_t red_lower;
        uint8_t blue_upper;
        uint8_t blue_lower;
        uint8_t green_upper;
        uint8_t green_lower;
    } rgb;
} DISPMANX_CLAMP_KEYS_T;

typedef struct {
    DISPMANX_FLAGS_CLAMP_T mode;
    DISPMANX_FLAGS_KEYMASK_T key_mask;
    DISPMANX_CLAMP_KEYS_T key_value;
    uint32_t replace_value;
} DISPMANX_CLAMP_T;

typedef enum {
    DISPMANX_NO_ROTATE = 0,
    DISPMANX_ROTATE_90 = 1,
    DISPMANX_ROTATE_180 = 2,
    DISPMANX_ROTATE_270 = 3
} DISPMANX_TRANSFORM_T;

void bcm_host_init(void);
void bcm_host_deinit(void);
int32_t graphics_get_display_size(const uint16_t display_number, uint32_t* width, uint32_t* height);

DISPMANX_DISPLAY_HANDLE_T vc_dispmanx_display_open(uint32_t device);
DISPMANX_UPDATE_HANDLE_T vc_dispmanx_update_start(int32_t priority);
DISPMANX_ELEMENT_HANDLE_T vc_dispmanx_element_add(
    DISPMANX_UPDATE_HANDLE_T update, DISPMANX_DISPLAY_HANDLE_T display, int32_t layer,
    const VC_RECT_T* dest_rect, DISPMANX_RESOURCE_HANDLE_T src, const VC_RECT_T* src_rect,
    DISPMANX_PROTECTION_T protection, VC_DISPMANX_ALPHA_T* alpha, DISPMANX_CLAMP_T* clamp,
    DISPMANX_TRANSFORM_T transform);
int vc_dispmanx_update_submit_sync(DISPMANX_UPDATE_HANDLE_T update);

#ifdef __cplusplus
}
#endif
