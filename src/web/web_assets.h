#pragma once

#include <cstddef>
#include <string>

namespace Lumetra {

// The page's files (src/web/assets/), built into the program.
struct WebAsset {
    const char* path;  // "/index.html"
    const char* content_type;
    const char* data;
    size_t size;
};

// Null when there is no such file.
const WebAsset* findWebAsset(const std::string& path);

}  // namespace Lumetra
