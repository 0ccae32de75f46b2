#pragma once

#include <EGL/egl.h>

#include <string>
#include <vector>

#include "canvas/canvas_content/content_interface.h"

namespace Lumetra {

// Finds the content plug-in registered under a canvas's content type name. Owns the
// plug-ins; the EGL handles belong to the renderer and outlive the registry.
class ContentManager {
  public:
    ContentManager(EGLDisplay* display, EGLSurface* surface, EGLContext* context);
    ~ContentManager();

    ContentManager(const ContentManager&) = delete;
    ContentManager& operator=(const ContentManager&) = delete;

    void getContentRatio(const std::string& content_type, int content_data, float* ratio);
    void setContent(const std::string& content_type, int content_data);
    // Once per frame, before the canvases are drawn.
    void frameBoundary();

  private:
    friend class ContentManagerTestAccess;  // lets tests register plug-ins of their own

    void loadContentPlugins();
    void addPlugin(ContentInterface* new_plugin);
    int getPluginId(const std::string& type_name);

    std::vector<std::string> content_types;
    std::vector<ContentInterface*> content_plugins;
    EGLDisplay* display;
    EGLSurface* surface;
    EGLContext* context;
};

}  // namespace Lumetra
