#include "gif/gif_reference.h"

#include <gif_lib.h>

#include <cstring>

namespace LumetraTest {

namespace {

void readLoopExtension(const ExtensionBlock* blocks, int count, ReferenceGif* out) {
    for (int i = 0; i + 1 < count; ++i) {
        const ExtensionBlock& app = blocks[i];
        const ExtensionBlock& sub = blocks[i + 1];
        if (app.Function == APPLICATION_EXT_FUNC_CODE && app.ByteCount == 11 &&
            memcmp(app.Bytes, "NETSCAPE2.0", 11) == 0 && sub.Function == CONTINUE_EXT_FUNC_CODE &&
            sub.ByteCount == 3 && sub.Bytes[0] == 1) {
            out->isLoopImage = 1;
            out->loopCount = sub.Bytes[1] | (sub.Bytes[2] << 8);
        }
    }
}

void setPixel(const ColorMapObject* map, int index, bool transparent, uint8_t* pixel) {
    if (map != nullptr && index < map->ColorCount) {
        pixel[0] = map->Colors[index].Red;
        pixel[1] = map->Colors[index].Green;
        pixel[2] = map->Colors[index].Blue;
    } else {
        pixel[0] = pixel[1] = pixel[2] = 0;
    }
    pixel[3] = transparent ? 0 : 255;
}

void drawImage(const GifFileType* gif, const SavedImage& image, int transparentIndex,
               std::vector<uint8_t>* frame) {
    const GifImageDesc& desc = image.ImageDesc;
    const ColorMapObject* map = desc.ColorMap != nullptr ? desc.ColorMap : gif->SColorMap;
    for (int y = 0; y < desc.Height; ++y) {
        for (int x = 0; x < desc.Width; ++x) {
            const int sx = desc.Left + x;
            const int sy = desc.Top + y;
            if (sx >= gif->SWidth || sy >= gif->SHeight) {
                continue;
            }
            const int index = image.RasterBits[y * desc.Width + x];
            setPixel(map, index, index == transparentIndex,
                     frame->data() + 4 * (static_cast<size_t>(sy) * gif->SWidth + sx));
        }
    }
}

}  // namespace

ReferenceGif readWithGiflib(const std::string& path) {
    ReferenceGif out;
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr) {
        return out;
    }
    if (DGifSlurp(gif) != GIF_OK) {
        DGifCloseFile(gif, &error);
        return out;
    }
    out.ok = true;
    out.width = gif->SWidth;
    out.height = gif->SHeight;
    std::vector<uint8_t> frame(static_cast<size_t>(out.width) * out.height * 4, 0);
    if (gif->SColorMap != nullptr) {
        for (size_t i = 0; i < frame.size(); i += 4) {
            setPixel(gif->SColorMap, gif->SBackGroundColor, false, frame.data() + i);
        }
    }
    out.delays.push_back(0);
    bool newFrameDue = false;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage& image = gif->SavedImages[i];
        readLoopExtension(image.ExtensionBlocks, image.ExtensionBlockCount, &out);
        if (newFrameDue) {
            out.frames.push_back(frame);
            out.delays.push_back(0);
            newFrameDue = false;
        }
        GraphicsControlBlock gcb;
        const bool hasControl = DGifSavedExtensionToGCB(gif, i, &gcb) == GIF_OK;
        drawImage(gif, image, hasControl ? gcb.TransparentColor : NO_TRANSPARENT_COLOR, &frame);
        if (hasControl && gcb.DelayTime > 0) {
            out.delays.back() = gcb.DelayTime;
            newFrameDue = true;
        }
    }
    readLoopExtension(gif->ExtensionBlocks, gif->ExtensionBlockCount, &out);
    out.frames.push_back(frame);
    DGifCloseFile(gif, &error);
    return out;
}

}  // namespace LumetraTest
