#include "canvas/canvas_content/content_local_file_texture/gif/gif_frame_plan.h"

#include <cstring>

namespace Lumetra {

namespace {
const int kImageIntroducer = 0x2C;
const int kExtensionIntroducer = 0x21;
const int kTrailer = 0x3B;
const int kGraphicControlLabel = 0xF9;

bool readBytes(FILE* file, unsigned char* out, size_t count) {
    return std::fread(out, 1, count, file) == count;
}

int readUint16(const unsigned char* bytes) {
    return bytes[0] | (bytes[1] << 8);
}

// Skips `count` bytes that must all be in the file.
bool skipBytes(FILE* file, long count) {
    if (count == 0) {
        return true;
    }
    if (std::fseek(file, count - 1, SEEK_CUR) != 0) {
        return false;
    }
    return std::fgetc(file) != EOF;
}

bool skipSubBlocks(FILE* file) {
    for (;;) {
        const int length = std::fgetc(file);
        if (length == EOF) {
            return false;
        }
        if (length == 0) {
            return true;
        }
        if (!skipBytes(file, length)) {
            return false;
        }
    }
}

class Walker {
  public:
    explicit Walker(FILE* f) : file(f) {}

    bool extension(bool* control_pending, int* delay) {
        unsigned char head[2];  // label, then the first sub-block's length
        if (!readBytes(file, head, 2)) {
            return false;
        }
        if (head[0] == kGraphicControlLabel) {
            unsigned char fields[5];  // packed, delay (2), transparent index, next length
            if (!readBytes(file, fields, 5) || head[1] != 4) {
                return false;
            }
            *control_pending = true;
            *delay = readUint16(fields + 1);
            return fields[4] == 0 || (skipBytes(file, fields[4]) && skipSubBlocks(file));
        }
        return head[1] == 0 || (skipBytes(file, head[1]) && skipSubBlocks(file));
    }

    bool image() {
        unsigned char descriptor[9];
        if (!readBytes(file, descriptor, 9)) {
            return false;
        }
        if (descriptor[8] & 0x80) {
            if (!skipBytes(file, 3L * (2 << (descriptor[8] & 7)))) {
                return false;
            }
        }
        const int min_code_size = std::fgetc(file);
        return min_code_size >= 2 && min_code_size <= 8 && skipSubBlocks(file);
    }

  private:
    FILE* file;
};

}  // namespace

bool planGifFrames(FILE* file, GifFramePlan* plan) {
    unsigned char header[13];
    if (file == nullptr || std::fseek(file, 0, SEEK_SET) != 0 || !readBytes(file, header, 13)) {
        return false;
    }
    if (std::memcmp(header, "GIF8", 4) != 0 || (header[4] != '7' && header[4] != '9') ||
        header[5] != 'a') {
        return false;
    }
    if ((header[10] & 0x80) && !skipBytes(file, 3L * (2 << (header[10] & 7)))) {
        return false;
    }
    Walker walker(file);
    int frames = 1;
    bool new_frame_due = false;
    bool control_pending = false;
    int delay = 0;
    for (;;) {
        const int introducer = std::fgetc(file);
        if (introducer == kTrailer) {
            plan->width = readUint16(header + 6);
            plan->height = readUint16(header + 8);
            plan->frames = frames;
            return true;
        }
        if (introducer == kExtensionIntroducer) {
            if (!walker.extension(&control_pending, &delay)) {
                return false;
            }
        } else if (introducer == kImageIntroducer) {
            if (new_frame_due) {
                ++frames;
                new_frame_due = false;
            }
            if (!walker.image()) {
                return false;
            }
            new_frame_due = control_pending && delay > 0;
            control_pending = false;
        } else {
            return false;  // EOF or a foreign block
        }
        if (frames > 0x3fffffff) {
            return false;
        }
    }
}

}  // namespace Lumetra
