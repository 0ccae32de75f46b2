#pragma once

#include <string>
#include <vector>

#include "canvas/canvas_content/content_local_file_texture/decoded_picture.h"

namespace Lumetra {

// What a directory entry's name says about a picture slot: "NNN.ext" or "NNN_name.ext",
// NNN three digits from 000 to 255, ext one of the known extensions in any case.
struct SlotName {
    int slot = -1;
    bool exact = false;  // "NNN.ext" rather than "NNN_name.ext"
    int rank = 0;        // the extension's place in the preference order
    TEXTURE_TYPE type = TEX_NONE;
};

// False when the name is no slot's picture.
bool parseSlotName(const std::string& name, SlotName* parsed);

// True when `a` (named `a_name`) takes a slot before `b`: exact names first, then by
// extension (png, jpg, jpeg, bmp, tga, gif, h264, mp4, mov, mkv, webm, avi), then by the
// bytes of the name.
bool slotNamePrecedes(const SlotName& a, const std::string& a_name, const SlotName& b,
                      const std::string& b_name);

// The picture files of a directory, read with one pass over it: for each slot the file
// that decides it, and the files that claim it too. Only regular files (a symlink to one
// too) that can be read count.
class SlotFiles {
  public:
    static const int kSlots = 256;

    struct Slot {
        std::string path;  // empty: no file for the slot
        TEXTURE_TYPE type = TEX_NONE;
        std::vector<std::string> passed_over;  // other claimants, in preference order
    };

    SlotFiles() : slots(kSlots) {}
    // Reads `dir` ("./textures"); a missing or unreadable directory has no files.
    static SlotFiles scan(const std::string& dir);

    const Slot& slot(int n) const { return slots[static_cast<size_t>(n)]; }
    // One line for each file passed over in slot `n`, naming the one it shows.
    std::vector<std::string> conflictNotices(int n) const;

  private:
    std::vector<Slot> slots;
};

// The directory the slots' files are read from.
extern const char kTextureDir[];

}  // namespace Lumetra
