#include "canvas/canvas_content/content_local_file_texture/gif_lzw_decoder.h"

#include "canvas/canvas_content/content_local_file_texture/gif_code_reader.h"
#include "canvas/canvas_content/content_local_file_texture/gif_image_writer.h"

namespace Lumetra {

void GifLzwDecoder::initTable(int clearCode) {
    for (int i = 0; i < clearCode; ++i) {
        prefix[i] = 0;
        length[i] = 1;
        suffix[i] = static_cast<uint8_t>(i);
        first[i] = static_cast<uint8_t>(i);
    }
}

void GifLzwDecoder::emit(int code, GifImageWriter& writer) {
    const int n = length[code];
    // One spare byte stays free for the extra byte of a code that is being defined.
    if (chunkFill + n + 1 > kChunkSize) {
        writer.write(chunk, chunkFill);
        chunkFill = 0;
    }
    uint8_t* out = chunk + chunkFill;
    for (int i = n - 1; i >= 0; --i) {
        out[i] = suffix[code];
        code = prefix[code];
    }
    chunkFill += n;
}

void GifLzwDecoder::addEntry(int previous, uint8_t byte) {
    // A full table stays as it is until the next clear code (a "deferred clear").
    if (nextFree >= kMaxCodes) {
        return;
    }
    prefix[nextFree] = static_cast<uint16_t>(previous);
    suffix[nextFree] = byte;
    length[nextFree] = static_cast<uint16_t>(length[previous] + 1);
    first[nextFree] = first[previous];
    ++nextFree;
    if (nextFree == (1 << codeWidth) && codeWidth < 12) {
        ++codeWidth;
    }
}

bool GifLzwDecoder::decode(const unsigned char* blocks, int minCodeSize, uint64_t pixelCount,
                           GifImageWriter& writer) {
    GifCodeReader reader(blocks);
    const int clearCode = 1 << minCodeSize;
    const int endCode = clearCode + 1;
    initTable(clearCode);
    chunkFill = 0;
    nextFree = clearCode + 2;
    codeWidth = minCodeSize + 1;
    int previous = -1;
    bool sawPixelCode = false;
    uint64_t produced = 0;
    int code;
    // Data that runs out ends the image; it is complete if every pixel has been decoded,
    // end code or not (some encoders write the end code short by a bit).
    while (reader.read(codeWidth, code)) {
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
        const int source = defining ? previous : code;
        const uint64_t stringLength = length[source] + (defining ? 1u : 0u);
        // Pixels beyond width x height make the image fail.
        if (produced + stringLength > pixelCount) {
            return false;
        }
        emit(source, writer);
        if (defining) {
            chunk[chunkFill++] = first[previous];
        }
        if (previous >= 0) {
            addEntry(previous, first[source]);
        }
        produced += stringLength;
        previous = code;
    }
    if (chunkFill > 0) {
        writer.write(chunk, chunkFill);
        chunkFill = 0;
    }
    return produced == pixelCount;
}

}  // namespace Lumetra
