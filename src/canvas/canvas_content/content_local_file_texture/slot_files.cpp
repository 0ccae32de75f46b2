#include "canvas/canvas_content/content_local_file_texture/slot_files.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace Lumetra {

const char kTextureDir[] = "./textures";

namespace {

// In preference order: stills, then GIF, then clips.
const struct {
    const char* extension;
    TEXTURE_TYPE type;
} kKinds[] = {{"png", TEX_PNG},   {"jpg", TEX_PNG},   {"jpeg", TEX_PNG},   {"bmp", TEX_PNG},
              {"tga", TEX_PNG},   {"gif", TEX_GIF},   {"h264", TEX_VIDEO}, {"mp4", TEX_VIDEO},
              {"mov", TEX_VIDEO}, {"mkv", TEX_VIDEO}, {"webm", TEX_VIDEO}, {"avi", TEX_VIDEO}};

bool sameLetters(const std::string& text, size_t from, const char* lower) {
    const size_t length = std::strlen(lower);
    if (text.size() - from != length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[from + i])) != lower[i]) {
            return false;
        }
    }
    return true;
}

// Regular (through a symlink too) and readable: what openRegularFile will open.
bool usable(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), R_OK) == 0;
}

}  // namespace

bool parseSlotName(const std::string& name, SlotName* parsed) {
    if (name.size() < 5) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    const int slot = (name[0] - '0') * 100 + (name[1] - '0') * 10 + (name[2] - '0');
    if (slot >= SlotFiles::kSlots || (name[3] != '.' && name[3] != '_')) {
        return false;
    }
    const size_t dot = name.rfind('.');
    const bool exact = name[3] == '.';
    if (exact ? dot != 3 : dot < 4) {
        return false;
    }
    for (size_t k = 0; k < sizeof(kKinds) / sizeof(kKinds[0]); ++k) {
        if (sameLetters(name, dot + 1, kKinds[k].extension)) {
            parsed->slot = slot;
            parsed->exact = exact;
            parsed->rank = static_cast<int>(k);
            parsed->type = kKinds[k].type;
            return true;
        }
    }
    return false;
}

bool slotNamePrecedes(const SlotName& a, const std::string& a_name, const SlotName& b,
                      const std::string& b_name) {
    if (a.exact != b.exact) {
        return a.exact;
    }
    if (a.rank != b.rank) {
        return a.rank < b.rank;
    }
    return a_name < b_name;
}

SlotFiles SlotFiles::scan(const std::string& dir) {
    struct Candidate {
        SlotName parsed;
        std::string name;
    };
    std::vector<Candidate> candidates;
    if (DIR* listing = opendir(dir.c_str())) {
        while (const dirent* entry = readdir(listing)) {
            Candidate candidate;
            candidate.name = entry->d_name;
            if (parseSlotName(candidate.name, &candidate.parsed) &&
                usable(dir + "/" + candidate.name)) {
                candidates.push_back(std::move(candidate));
            }
        }
        closedir(listing);
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        if (a.parsed.slot != b.parsed.slot) {
            return a.parsed.slot < b.parsed.slot;
        }
        return slotNamePrecedes(a.parsed, a.name, b.parsed, b.name);
    });
    SlotFiles files;
    for (const Candidate& candidate : candidates) {
        Slot& slot = files.slots[static_cast<size_t>(candidate.parsed.slot)];
        const std::string path = dir + "/" + candidate.name;
        if (slot.path.empty()) {
            slot.path = path;
            slot.type = candidate.parsed.type;
        } else {
            slot.passed_over.push_back(path);
        }
    }
    return files;
}

std::vector<std::string> SlotFiles::conflictNotices(int n) const {
    std::vector<std::string> lines;
    const Slot& s = slot(n);
    for (const std::string& other : s.passed_over) {
        lines.push_back(other + ": not used: slot " + std::to_string(n) + " shows " + s.path);
    }
    return lines;
}

}  // namespace Lumetra
