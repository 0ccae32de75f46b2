#include "canvas/canvas_content/content_local_file_texture/gif/gif_decoder.h"

#include <cstring>

#include "canvas/canvas_content/content_local_file_texture/gif/gif_image_writer.h"

namespace Lumetra {

namespace {
const size_t kScreenDescriptorEnd = 13;
const size_t kImageDescriptorSize = 10;
const unsigned char kImageIntroducer = 0x2C;
const unsigned char kExtensionIntroducer = 0x21;
const unsigned char kTrailer = 0x3B;
const unsigned char kGraphicControlLabel = 0xF9;
const unsigned char kApplicationLabel = 0xFF;
// The frame list's own ceiling; a plan may count no more.
const int kMaxFrames = 0x3fffffff;

int readUint16(const unsigned char* bytes) {
    return bytes[0] | (bytes[1] << 8);
}
}  // namespace

GifDecoder::GifDecoder(const unsigned char* data, size_t size) : data(data), size(size) {}

GifDecoder::~GifDecoder() {
    delete frames;
    delete lzw;
}

bool GifDecoder::isGifHeader(const unsigned char* testMe) {
    return testMe[0] == 'G' && testMe[1] == 'I' && testMe[2] == 'F' && testMe[3] == '8' &&
           (testMe[4] == '7' || testMe[4] == '9') && testMe[5] == 'a';
}

bool GifDecoder::plan(GifFramePlan* out) {
    if (walked) {
        return false;
    }
    planOnly = true;
    if (!walk()) {
        return false;
    }
    out->width = screen.width;
    out->height = screen.height;
    out->frames = frameCount;
    return true;
}

bool GifDecoder::decode(uint64_t limit) {
    if (walked) {
        return false;
    }
    frameLimit = limit;
    decoded = walk();
    return decoded;
}

bool GifDecoder::walk() {
    walked = true;
    if (data == nullptr || size <= kScreenDescriptorEnd || !isGifHeader(data) || !readScreen()) {
        return false;
    }
    if (!planOnly && !startFirstFrame()) {
        return false;
    }
    frameCount = 1;
    while (position < size) {
        const unsigned char introducer = data[position];
        if (introducer == kTrailer) {
            return true;
        }
        bool ok = false;
        if (introducer == kImageIntroducer) {
            ok = readImage();
        } else if (introducer == kExtensionIntroducer) {
            ok = readExtension();
        }
        if (!ok) {
            return false;
        }
    }
    // The file ended without its trailer.
    return false;
}

bool GifDecoder::startFirstFrame() {
    const uint64_t frameBytes =
        static_cast<uint64_t>(screen.width) * static_cast<uint64_t>(screen.height) * 4;
    frames = new GifFrameList(frameBytes, frameLimit);
    // Frame 0 starts as the background colour when there is a global table, otherwise as
    // transparent black. A background index outside the table gives opaque black.
    uint8_t background[4] = {0, 0, 0, 0};
    if (globalTable != nullptr) {
        uint8_t palette[256 * 4];
        GifImageWriter::buildPalette(globalTable, globalEntries, -1, palette);
        memcpy(background, palette + 4 * screen.backgroundColorIndex, 4);
    }
    if (!frames->startFirstFrame(background)) {
        return false;
    }
    lzw = new GifLzwDecoder();
    return true;
}

bool GifDecoder::readScreen() {
    screen.width = readUint16(data + 6);
    screen.height = readUint16(data + 8);
    screen.packedFields = data[10];
    screen.globalColorTableFlag = screen.packedFields >> 7;
    screen.colorResolution = (screen.packedFields >> 4) & 7;
    screen.sortFlag = (screen.packedFields >> 3) & 1;
    screen.globalColorTableSize = screen.packedFields & 7;
    screen.backgroundColorIndex = data[11];
    screen.pixelAspectRatio = data[12];
    const int entries = 2 << screen.globalColorTableSize;
    // Made whether or not the table is present: the file must hold more than the table.
    if (kScreenDescriptorEnd + 3 * entries >= size) {
        return false;
    }
    position = kScreenDescriptorEnd;
    if (screen.globalColorTableFlag) {
        globalTable = data + kScreenDescriptorEnd;
        globalEntries = entries;
        position += 3 * entries;
    }
    return true;
}

bool GifDecoder::skipSubBlocks(size_t* at) const {
    // A chain that runs past the end of the file makes the file fail.
    while (*at < size) {
        const size_t blockLength = data[*at];
        ++*at;
        if (blockLength == 0) {
            return true;
        }
        *at += blockLength;
    }
    return false;
}

bool GifDecoder::readExtension() {
    if (position + 1 >= size) {
        return false;
    }
    const unsigned char* block = data + position;
    if (block[1] == kGraphicControlLabel) {
        // The five bytes read must be in the file (a truncated block fails the file).
        if (position + 6 >= size) {
            return false;
        }
        control.disposalMethod = (block[3] >> 2) & 7;
        control.userInputFlag = (block[3] >> 1) & 1;
        control.transparencyFlag = block[3] & 1;
        control.delayTime = readUint16(block + 4);
        control.transparentColorIndex = block[6];
        controlPending = true;
        if (block[2] != 4) {
            return false;
        }
    } else if (block[1] == kApplicationLabel) {
        readLoopExtension();
    }
    size_t next = position + 2;
    if (!skipSubBlocks(&next)) {
        return false;
    }
    position = next;
    return true;
}

void GifDecoder::readLoopExtension() {
    if (position + 17 >= size) {
        return;
    }
    const unsigned char* block = data + position;
    if (block[2] == 11 && memcmp(block + 3, "NETSCAPE2.0", 11) == 0 && block[14] == 3 &&
        block[15] == 1) {
        isLoopImage = 1;
        loopCount = readUint16(block + 16);
    }
}

bool GifDecoder::readImageDescriptor(GifImageDescriptor* image) {
    if (position + kImageDescriptorSize > size) {
        return false;
    }
    const unsigned char* block = data + position;
    image->leftPosition = readUint16(block + 1);
    image->topPosition = readUint16(block + 3);
    image->width = readUint16(block + 5);
    image->height = readUint16(block + 7);
    image->packedFields = block[9];
    image->localColorTableFlag = image->packedFields >> 7;
    image->interlaceFlag = (image->packedFields >> 6) & 1;
    image->sortFlag = (image->packedFields >> 5) & 1;
    image->localColorTableSize = image->packedFields & 7;
    position += kImageDescriptorSize;
    return true;
}

bool GifDecoder::readImage() {
    GifImageDescriptor image;
    if (!readImageDescriptor(&image)) {
        return false;
    }
    if (newFrameDue) {
        if (frameCount >= kMaxFrames) {
            return false;
        }
        ++frameCount;
        newFrameDue = false;
        // An image that covers the whole screen sets every pixel (transparent ones too), so
        // its frame need not start as a copy; a failed image fails the whole file anyway.
        const bool coversScreen = image.leftPosition == 0 && image.topPosition == 0 &&
                                  image.width >= screen.width && image.height >= screen.height;
        if (!planOnly && !frames->addFrame(!coversScreen)) {
            return false;
        }
    }
    const unsigned char* table = globalTable;
    int entries = globalEntries;
    if (image.localColorTableFlag) {
        entries = 2 << image.localColorTableSize;
        if (position + 3 * entries > size) {
            return false;
        }
        table = data + position;
        position += 3 * entries;
    }
    // An image with neither a local nor a global table has no colours to show: rejected.
    if (table == nullptr || position >= size) {
        return false;
    }
    // Code sizes outside 2..8 do not occur in valid files (8-bit indices, at most 12-bit
    // codes): rejected.
    const int minCodeSize = data[position++];
    if (minCodeSize < 2 || minCodeSize > 8) {
        return false;
    }
    size_t end = position;
    if (!skipSubBlocks(&end)) {
        return false;
    }
    if (!planOnly && !decodeImage(image, table, entries, minCodeSize)) {
        return false;
    }
    if (controlPending && control.delayTime > 0) {
        if (!planOnly) {
            frames->setCurrentDelay(control.delayTime);
        }
        newFrameDue = true;
    }
    controlPending = false;
    position = end;
    return true;
}

bool GifDecoder::decodeImage(const GifImageDescriptor& image, const unsigned char* table,
                             int entries, int minCodeSize) {
    const int transparentIndex =
        controlPending && control.transparencyFlag ? control.transparentColorIndex : -1;
    uint8_t palette[256 * 4];
    GifImageWriter::buildPalette(table, entries, transparentIndex, palette);
    GifImageWriter writer(frames->current(), screen.width, screen.height, image, palette);
    const uint64_t pixelCount =
        static_cast<uint64_t>(image.width) * static_cast<uint64_t>(image.height);
    return lzw->decode(data + position, minCodeSize, pixelCount, writer);
}

unsigned char** GifDecoder::releaseFrames(GifAnimationInfo* info) {
    if (!decoded) {
        return nullptr;
    }
    decoded = false;
    info->numberOfImages = frames->getCount();
    info->isLoopImage = isLoopImage;
    info->loopCount = loopCount;
    info->delayArray = frames->releaseDelays();
    return frames->releaseFrames();
}

unsigned char** decodeGifFrames(const unsigned char* data, size_t size, uint64_t memoryLimit,
                                int* width, int* height, GifAnimationInfo* info) {
    if (data == nullptr || size > memoryLimit) {
        return nullptr;
    }
    GifDecoder decoder(data, size);
    if (!decoder.decode(memoryLimit - size)) {
        return nullptr;
    }
    *width = decoder.getWidth();
    *height = decoder.getHeight();
    return decoder.releaseFrames(info);
}

}  // namespace Lumetra
