#include "web/picture_library.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stb/stb_image_write.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "canvas/canvas_content/content_local_file_texture/slot_decoder.h"
#include "canvas/canvas_content/content_local_file_texture/slot_files.h"
#include "platform/clip_playback.h"
#include "web/web_parsing.h"

namespace Lumetra {

namespace {

const char* kindName(TEXTURE_TYPE type) {
    switch (type) {
        case TEX_PNG:
            return "still";
        case TEX_GIF:
            return "gif";
        case TEX_VIDEO:
            return "clip";
        default:
            return "none";
    }
}

std::string leafName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

void syncDirectory(const std::string& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

PictureLibrary::Result failure(int status, std::string why) {
    PictureLibrary::Result result;
    result.status = status;
    result.error = std::move(why);
    return result;
}

}  // namespace

PictureLibrary::PictureLibrary(std::string d, const PictureLimits& l, uint64_t max)
    : dir(std::move(d)), limits(l), max_upload(max) {}

std::string PictureLibrary::listJson() {
    const SlotFiles files = SlotFiles::scan(dir);
    std::string json = "[";
    for (int n = 0; n < SlotFiles::kSlots; ++n) {
        const SlotFiles::Slot& slot = files.slot(n);
        if (n > 0) {
            json += ",";
        }
        json += "{\"slot\":" + std::to_string(n);
        if (slot.path.empty()) {
            json += ",\"kind\":\"none\"}";
            continue;
        }
        struct stat info;
        const long long bytes =
            stat(slot.path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
        json += ",\"file\":" + jsonString(leafName(slot.path));
        json += ",\"kind\":\"" + std::string(kindName(slot.type)) + "\"";
        json += ",\"bytes\":" + std::to_string(bytes);
        json += ",\"passed_over\":[";
        for (size_t i = 0; i < slot.passed_over.size(); ++i) {
            json += (i > 0 ? "," : "") + jsonString(leafName(slot.passed_over[i]));
        }
        json += "]";
        std::lock_guard<std::mutex> hold(cache_lock);
        auto cached = cache.find(n);
        if (cached != cache.end() && cached->second.path == slot.path &&
            !cached->second.error.empty()) {
            json += ",\"error\":" + jsonString(cached->second.error);
        }
        json += "}";
    }
    return json + "]";
}

PictureLibrary::Result PictureLibrary::thumbnail(int slot, std::vector<uint8_t>* png) {
    const SlotFiles files = SlotFiles::scan(dir);
    const SlotFiles::Slot& file = files.slot(slot);
    if (file.path.empty()) {
        return failure(404, "slot " + std::to_string(slot) + " has no picture");
    }
    struct stat info;
    if (stat(file.path.c_str(), &info) != 0) {
        return failure(404, "slot " + std::to_string(slot) + " has no picture");
    }
    const int64_t mtime_ns =
        static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    {
        std::lock_guard<std::mutex> hold(cache_lock);
        auto cached = cache.find(slot);
        if (cached != cache.end() && cached->second.path == file.path &&
            cached->second.size == info.st_size && cached->second.mtime_ns == mtime_ns) {
            if (!cached->second.error.empty()) {
                return failure(422, cached->second.error);
            }
            *png = cached->second.png;
            return Result{};
        }
    }

    Cached entry;
    entry.path = file.path;
    entry.size = info.st_size;
    entry.mtime_ns = mtime_ns;
    if (file.type == TEX_VIDEO) {
        std::vector<uint8_t> small;
        int w = 0, h = 0;
        std::lock_guard<std::mutex> hold(decode_lock);
        if (Platform::clipThumbnail(file.path, kThumbnailSize, &small, &w, &h)) {
            stbi_write_png_to_func(appendBytes, &entry.png, w, h, 4, small.data(), w * 4);
        } else {
            entry.error = "no picture of the clip could be decoded";
        }
    } else {
        std::lock_guard<std::mutex> hold(decode_lock);
        SlotDecoder decoder(file, limits);
        DecodedPicture picture = decoder.decode();
        const unsigned char* pixels =
            picture.gif_buffer != nullptr ? picture.gif_buffer[0] : picture.png_buffer;
        if (!picture.refused_for.empty() || pixels == nullptr || picture.size_x <= 0 ||
            picture.size_y <= 0) {
            entry.error =
                picture.refused_for.empty() ? "the file cannot be decoded" : picture.refused_for;
        } else {
            // Nearest pixel: a thumbnail only has to be recognisable.
            const int longer = std::max(picture.size_x, picture.size_y);
            const double scale = longer > kThumbnailSize ? double(kThumbnailSize) / longer : 1.0;
            const int w = std::max(1, static_cast<int>(picture.size_x * scale));
            const int h = std::max(1, static_cast<int>(picture.size_y * scale));
            std::vector<uint8_t> small(static_cast<size_t>(w) * h * 4);
            for (int y = 0; y < h; ++y) {
                const int sy = std::min(picture.size_y - 1, static_cast<int>(y / scale));
                for (int x = 0; x < w; ++x) {
                    const int sx = std::min(picture.size_x - 1, static_cast<int>(x / scale));
                    std::memcpy(&small[(static_cast<size_t>(y) * w + x) * 4],
                                pixels + (static_cast<size_t>(sy) * picture.size_x + sx) * 4, 4);
                }
            }
            stbi_write_png_to_func(appendBytes, &entry.png, w, h, 4, small.data(), w * 4);
        }
    }
    std::lock_guard<std::mutex> hold(cache_lock);
    Cached& stored = cache[slot] = std::move(entry);
    if (!stored.error.empty()) {
        return failure(422, stored.error);
    }
    *png = stored.png;
    return Result{};
}

PictureLibrary::Result PictureLibrary::begin(int slot, const std::string& stem,
                                             const std::string& extension, Upload* upload) {
    if (uploading.exchange(true)) {
        return failure(409, "another upload is under way");
    }
    char prefix[8];
    std::snprintf(prefix, sizeof(prefix), "%03d_", slot);
    upload->library = this;
    upload->slot = slot;
    upload->target = dir + "/" + prefix + stem + "." + extension;
    // Hidden, and no slot's name: neither the start-up scan nor the hot reload reads it.
    upload->temp = dir + "/.upload-XXXXXX";
    mkdir(dir.c_str(), 0755);
    upload->fd = mkostemp(&upload->temp[0], O_CLOEXEC);
    if (upload->fd < 0) {
        const std::string why = std::strerror(errno);
        upload->temp.clear();
        upload->library = nullptr;
        endUpload();
        return failure(500, "cannot write into " + dir + ": " + why);
    }
    fchmod(upload->fd, 0644);
    return Result{};
}

PictureLibrary::Upload::~Upload() {
    if (fd >= 0) {
        close(fd);
    }
    if (!temp.empty()) {
        unlink(temp.c_str());
    }
    if (library != nullptr) {
        library->endUpload();
    }
}

PictureLibrary::Result PictureLibrary::Upload::write(const char* data, size_t size) {
    if (failed || fd < 0) {
        return failure(500, "the upload was already refused");
    }
    if (written + size > library->max_upload) {
        failed = true;
        return failure(413, "the file is larger than " + memoryText(library->max_upload));
    }
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            failed = true;
            const int status = errno == ENOSPC ? 507 : 500;
            return failure(status, std::string("cannot store the file: ") + std::strerror(errno));
        }
        data += n;
        size -= static_cast<size_t>(n);
        written += static_cast<uint64_t>(n);
    }
    return Result{};
}

PictureLibrary::Result PictureLibrary::Upload::finish() {
    if (failed || fd < 0) {
        return failure(500, "the upload was already refused");
    }
    if (written == 0) {
        return failure(400, "the request has no file in its body");
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        fd = -1;
        return failure(500, std::string("cannot store the file: ") + std::strerror(errno));
    }
    fd = -1;
    SlotName name;
    parseSlotName(leafName(target), &name);
    {
        // The same checks as at start-up: header, size limits, memory budgets, decoding.
        std::lock_guard<std::mutex> hold(library->decode_lock);
        SlotFiles::Slot file;
        file.path = temp;
        file.type = name.type;
        SlotDecoder decoder(file, library->limits);
        DecodedPicture picture = decoder.decode();
        if (!picture.refused_for.empty()) {
            return failure(422, "the picture is refused: " + picture.refused_for);
        }
        if (picture.texture_type != TEX_VIDEO && picture.png_buffer == nullptr &&
            picture.gif_buffer == nullptr) {
            return failure(
                422, "the file cannot be decoded as ." + target.substr(target.rfind('.') + 1));
        }
    }
    const SlotFiles before = SlotFiles::scan(library->dir);
    if (rename(temp.c_str(), target.c_str()) != 0) {
        return failure(500, std::string("cannot store the file: ") + std::strerror(errno));
    }
    temp.clear();
    // The upload replaces the slot's picture: files that would decide the slot before it,
    // or compete with it, go.
    const SlotFiles::Slot& old = before.slot(slot);
    std::vector<std::string> others = old.passed_over;
    others.push_back(old.path);
    for (const std::string& other : others) {
        if (!other.empty() && other != target) {
            unlink(other.c_str());
        }
    }
    syncDirectory(library->dir);
    return Result{};
}

void PictureLibrary::endUpload() {
    uploading.store(false);
}

PictureLibrary::Result PictureLibrary::remove(int slot) {
    const SlotFiles files = SlotFiles::scan(dir);
    const SlotFiles::Slot& file = files.slot(slot);
    if (file.path.empty()) {
        return failure(404, "slot " + std::to_string(slot) + " has no picture");
    }
    std::vector<std::string> all = file.passed_over;
    all.push_back(file.path);
    for (const std::string& path : all) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            return failure(500, "cannot remove " + leafName(path) + ": " + std::strerror(errno));
        }
    }
    syncDirectory(dir);
    return Result{};
}

}  // namespace Lumetra
