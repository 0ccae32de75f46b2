#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/picture_limits.h"

namespace Lumetra {

// The picture slots as files in the picture directory, for the web page: listing, small
// thumbnails, uploads and deletes. Uploads are written to a hidden temporary file in the
// directory, checked by the slot decoder with the fixture's limits, and renamed into
// place; the hot reload then shows them. Thumbnails are decoded one at a time, so that
// browsers asking for all 256 at once cannot take more than one picture's memory.
class PictureLibrary {
  public:
    static const int kThumbnailSize = 160;

    struct Result {
        int status = 200;   // HTTP status
        std::string error;  // why, when status is not 2xx
    };

    PictureLibrary(std::string dir, const PictureLimits& limits, uint64_t max_upload);

    // JSON array of the 256 slots: file, kind, bytes, files passed over, error.
    std::string listJson();
    // A PNG at most kThumbnailSize on its longer side: a still, a GIF's first frame.
    Result thumbnail(int slot, std::vector<uint8_t>* png);

    // An upload to `slot` named `stem`.`extension` (already checked names): begin() opens
    // the temporary file, write() appends, finish() checks and renames, abort() removes it.
    // One upload at a time.
    class Upload {
      public:
        ~Upload();
        Result write(const char* data, size_t size);
        Result finish();
        uint64_t bytes() const { return written; }

      private:
        friend class PictureLibrary;
        PictureLibrary* library = nullptr;
        int slot = -1;
        std::string target;
        std::string temp;
        int fd = -1;
        uint64_t written = 0;
        bool failed = false;
    };
    Result begin(int slot, const std::string& stem, const std::string& extension, Upload* upload);

    // Removes every file that claims `slot`.
    Result remove(int slot);

    uint64_t maxUpload() const { return max_upload; }

  private:
    void endUpload();

    const std::string dir;
    const PictureLimits limits;
    const uint64_t max_upload;
    std::atomic<bool> uploading{false};
    std::mutex decode_lock;  // one thumbnail or upload check decoding at a time
    struct Cached {
        std::string path;
        off_t size = 0;
        int64_t mtime_ns = 0;
        std::vector<uint8_t> png;
        std::string error;
    };
    std::mutex cache_lock;
    std::map<int, Cached> cache;
};

}  // namespace Lumetra
