#pragma once

#include <set>
#include <string>
#include <vector>

namespace Lumetra {

// Watches the picture directory with inotify and reports the names of files that have
// become complete (closed after writing, renamed into place) or gone (removed, renamed
// away). Changes are gathered until they settle, so that a burst is reported at once. The
// directory may be missing, removed or replaced: it is watched again when it is back, and
// then everything counts as changed. One thread calls wait(); stop() may come from any.
class TextureWatcher {
  public:
    struct Changes {
        std::vector<std::string> names;  // names changed, in the order seen (may repeat)
        bool everything = false;         // the directory came, went or lost events
        std::set<std::string> writing;   // names still being written: not to be read yet
    };

    // Starts watching `dir` ("./textures") at once, so that nothing done after this is lost.
    explicit TextureWatcher(const std::string& dir);
    ~TextureWatcher();

    TextureWatcher(const TextureWatcher&) = delete;
    TextureWatcher& operator=(const TextureWatcher&) = delete;

    // Waits for changes and for them to settle; false once stop() was called.
    bool wait(Changes* changes);
    void stop();

  private:
    void watchDirectory();
    void dropDirectoryWatch();
    // Reads what the kernel has; true when something counts as a change.
    bool readEvents(Changes* changes);
    bool complete(const std::string& name);

    std::string dir;
    std::string parent;  // where the directory itself appears and disappears
    std::string leaf;
    int inotify_fd = -1;
    int stop_fd = -1;
    int dir_watch = -1;
    int parent_watch = -1;
    std::set<std::string> writing;
};

}  // namespace Lumetra
