#include "canvas/canvas_content/content_manager.h"

#include "canvas/canvas_content/content_local_file_texture/content_local_file_texture.h"

namespace Lumetra {

ContentManager::ContentManager(EGLDisplay* d, EGLSurface* s, EGLContext* c)
    : display(d), surface(s), context(c) {
    content_types.clear();
    content_plugins.clear();
    loadContentPlugins();
}

ContentManager::~ContentManager() {
    for (ContentInterface* plugin : content_plugins) {
        delete plugin;
    }
    content_plugins.clear();
    content_types.clear();
}

void ContentManager::getContentRatio(const std::string& content_type, int content_data,
                                     float* ratio) {
    int id = getPluginId(content_type);
    if (id >= 0) {
        content_plugins[id]->getContentRatio(content_data, ratio);
    }
}

void ContentManager::setContent(const std::string& content_type, int content_data) {
    int id = getPluginId(content_type);
    if (id >= 0) {
        content_plugins[id]->setContent(content_data);
    }
}

void ContentManager::frameBoundary() {
    for (ContentInterface* plugin : content_plugins) {
        plugin->frameBoundary();
    }
}

void ContentManager::loadContentPlugins() {
    addPlugin(new ContentLocalFileTexture(display, surface, context));
}

void ContentManager::addPlugin(ContentInterface* new_plugin) {
    content_plugins.push_back(new_plugin);
    content_types.push_back(new_plugin->getContentTypeName());
}

int ContentManager::getPluginId(const std::string& type_name) {
    for (size_t i = 0; i < content_types.size(); ++i) {
        if (content_types[i] == type_name) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace Lumetra
