#include "canvas/canvas_content/content_local_file_texture/picture_scaler.h"

#include <cmath>
#include <cstdlib>

#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"

namespace Lumetra {

bool fitPictureSize(int width, int height, int frames, int max_side, uint64_t max_bytes,
                    int* fitted_width, int* fitted_height) {
    if (width < 1 || height < 1 || frames < 1 || max_side < 1) {
        return false;
    }
    const double bytes = static_cast<double>(rgbaBytes(width, height)) * frames;
    double scale = 1.0;
    scale = std::fmin(scale, static_cast<double>(max_side) / width);
    scale = std::fmin(scale, static_cast<double>(max_side) / height);
    if (bytes > static_cast<double>(max_bytes)) {
        scale = std::fmin(scale, std::sqrt(static_cast<double>(max_bytes) / bytes));
    }
    if (scale >= 1.0) {
        *fitted_width = width;
        *fitted_height = height;
        return true;
    }
    // Rounded to the nearest pixel where only the sides limit, rounded down where memory
    // does; a side that would vanish cannot be shown.
    const uint64_t frame_count = static_cast<uint64_t>(frames);
    int w = static_cast<int>(std::lround(width * scale));
    int h = static_cast<int>(std::lround(height * scale));
    if (rgbaBytes(w, h) * frame_count > max_bytes) {
        w = static_cast<int>(std::floor(width * scale));
        h = static_cast<int>(std::floor(height * scale));
    }
    w = w > max_side ? max_side : w;
    h = h > max_side ? max_side : h;
    if (w < 1 || h < 1 || rgbaBytes(w, h) * frame_count > max_bytes) {
        return false;
    }
    *fitted_width = w;
    *fitted_height = h;
    return true;
}

unsigned char* scaleRgba(const unsigned char* pixels, int width, int height, int to_width,
                         int to_height) {
    unsigned char* out = static_cast<unsigned char*>(std::malloc(rgbaBytes(to_width, to_height)));
    if (out == nullptr) {
        return nullptr;
    }
    for (int y = 0; y < to_height; ++y) {
        const int y0 = static_cast<int>(static_cast<int64_t>(y) * height / to_height);
        int y1 = static_cast<int>(static_cast<int64_t>(y + 1) * height / to_height);
        y1 = y1 > y0 ? y1 : y0 + 1;
        for (int x = 0; x < to_width; ++x) {
            const int x0 = static_cast<int>(static_cast<int64_t>(x) * width / to_width);
            int x1 = static_cast<int>(static_cast<int64_t>(x + 1) * width / to_width);
            x1 = x1 > x0 ? x1 : x0 + 1;
            uint64_t sum[4] = {0, 0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const unsigned char* row = pixels + (static_cast<size_t>(sy) * width + x0) * 4;
                for (int sx = x0; sx < x1; ++sx, row += 4) {
                    sum[0] += row[0];
                    sum[1] += row[1];
                    sum[2] += row[2];
                    sum[3] += row[3];
                }
            }
            const uint64_t count = static_cast<uint64_t>(y1 - y0) * static_cast<uint64_t>(x1 - x0);
            unsigned char* target = out + (static_cast<size_t>(y) * to_width + x) * 4;
            for (int c = 0; c < 4; ++c) {
                target[c] = static_cast<unsigned char>((sum[c] + count / 2) / count);
            }
        }
    }
    return out;
}

}  // namespace Lumetra
