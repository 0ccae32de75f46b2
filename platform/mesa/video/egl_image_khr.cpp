// Mesa's libEGL exports only the core EGL entry points; EGL_KHR_image_base's functions are
// reached through eglGetProcAddress. The program calls them directly, as it does on the
// Pi, so they are defined here.

#include <EGL/egl.h>
#include <EGL/eglext.h>

extern "C" {

EGLImageKHR eglCreateImageKHR(EGLDisplay dpy, EGLContext ctx, EGLenum target,
                              EGLClientBuffer buffer, const EGLint* attrib_list) {
    static const auto create =
        reinterpret_cast<PFNEGLCREATEIMAGEKHRPROC>(eglGetProcAddress("eglCreateImageKHR"));
    return create ? create(dpy, ctx, target, buffer, attrib_list) : EGL_NO_IMAGE_KHR;
}

EGLBoolean eglDestroyImageKHR(EGLDisplay dpy, EGLImageKHR image) {
    static const auto destroy =
        reinterpret_cast<PFNEGLDESTROYIMAGEKHRPROC>(eglGetProcAddress("eglDestroyImageKHR"));
    return destroy ? destroy(dpy, image) : EGL_FALSE;
}

}  // extern "C"
