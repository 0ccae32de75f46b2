#include "canvas/canvas_content/content_local_file_texture/gif/gif_lzw_decoder.h"

#include "canvas/canvas_content/content_local_file_texture/gif/gif_code_reader.h"
#include "canvas/canvas_content/content_local_file_texture/gif/gif_image_writer.h"

namespace Lumetra {

void GifLzwDecoder::initTable(int clearCode) {
    for (int i = 0; i < clearCode; ++i) {
        prefix[i] = 0;
        length[i] = 1;
        suffix[i] = static_cast<uint8_t>(i);
        first[i] = static_cast<uint8_t>(i);
    }
}

bool GifLzwDecoder::decode(const unsigned char* blocks, int minCodeSize, uint64_t pixelCount,
                           GifImageWriter& writer) {
    GifCodeReader reader(blocks);
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    initTable(clearCode);
    int nextFree = clearCode + 2;
    int codeWidth = minCodeSize + 1;
    int previous = -1;
    bool sawPixelCode = false;
    uint64_t produced = 0;
    size_t fill = 0;
    int code;
    for (;;) {
        // Data that runs out ends the image; it is complete if every pixel has been decoded,
        // end code or not (some encoders write the end code short by a bit, or leave it out
        // and pad the last byte with zero bits).
        if (produced == pixelCount && reader.onlyPaddingLeft()) {
            break;
        }
        if (!reader.read(codeWidth, code)) {
            break;
        }
        if (code == clearCode) {
            nextFree = clearCode + 2;
            codeWidth = minCodeSize + 1;
            previous = -1;
            continue;
        }
        if (code == endCode) {
            // A stream that ends before its first pixel code carries no picture at all.
            if (!sawPixelCode) {
                return false;
            }
            break;
        }
        sawPixelCode = true;
        // A code above the next free entry (or any multi-byte code right after a clear)
        // names a string that does not exist yet: the data is corrupt, the image fails.
        if (code > nextFree || (previous < 0 && code > clearCode)) {
            return false;
        }
        const bool defining = code == nextFree;
        int source = defining ? previous : code;
        const int n = length[source];
        const uint64_t stringLength = static_cast<uint64_t>(n) + (defining ? 1 : 0);
        // Pixels beyond width x height make the image fail.
        if (produced + stringLength > pixelCount) {
            return false;
        }
        // The chunk keeps room for the longest string; a full chunk goes to the writer.
        if (fill + kMaxCodes + 1 > kChunkSize) {
            writer.write(chunk, fill);
            fill = 0;
        }
        uint8_t* out = chunk + fill;
        const uint8_t head = first[source];
        if (n == 1) {
            out[0] = head;
        } else {
            for (int i = n - 1; i > 0; --i) {
                out[i] = suffix[source];
                source = prefix[source];
            }
            out[0] = head;
        }
        if (defining) {
            out[n] = head;
        }
        fill += stringLength;
        produced += stringLength;
        // A full table stays as it is until the next clear code (a "deferred clear").
        if (previous >= 0 && nextFree < kMaxCodes) {
            prefix[nextFree] = static_cast<uint16_t>(previous);
            suffix[nextFree] = head;
            length[nextFree] = static_cast<uint16_t>(length[previous] + 1);
            first[nextFree] = first[previous];
            ++nextFree;
            if (nextFree == (1 << codeWidth) && codeWidth < 12) {
                ++codeWidth;
            }
        }
        previous = code;
    }
    if (fill > 0) {
        writer.write(chunk, fill);
    }
    return produced == pixelCount;
}

}  // namespace Lumetra
