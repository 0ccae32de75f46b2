#pragma once

#include <string>

namespace Lumetra {

// A content plug-in: supplies the pictures of one content type name.
class ContentInterface {
  public:
    virtual ~ContentInterface() = 0;
    virtual std::string getContentTypeName() = 0;
    // Height divided by width of picture `content_data`.
    virtual void getContentRatio(int content_data, float* ratio) = 0;
    // Binds picture `content_data` and its texture coordinates for the next draw.
    virtual void setContent(int content_data) = 0;
    // Called once per frame before any canvas is drawn: the place for work that must not
    // happen while a frame is half drawn.
    virtual void frameBoundary() {}
};

}  // namespace Lumetra
