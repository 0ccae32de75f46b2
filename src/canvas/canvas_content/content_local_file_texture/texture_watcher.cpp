#include "canvas/canvas_content/content_local_file_texture/texture_watcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace Lumetra {

namespace {

using Clock = std::chrono::steady_clock;

// A burst of changes is reported once nothing new came for this long...
const std::chrono::milliseconds kQuiet(100);
// ...or this long after its first change, so that a steady stream is still served.
const std::chrono::milliseconds kMostDelay(300);
// While the directory is missing, how often to look for it besides the parent's events
// (a parent that is itself replaced sends none).
const int kRetryMs = 500;

const uint32_t kDirEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_CREATE |
                            IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
const uint32_t kParentEvents = IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ONLYDIR;

}  // namespace

TextureWatcher::TextureWatcher(const std::string& d) : dir(d) {
    const size_t slash = dir.find_last_of('/');
    parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
    leaf = slash == std::string::npos ? dir : dir.substr(slash + 1);
    inotify_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    stop_fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotify_fd >= 0) {
        parent_watch = inotify_add_watch(inotify_fd, parent.c_str(), kParentEvents);
        watchDirectory();
    }
}

TextureWatcher::~TextureWatcher() {
    if (inotify_fd >= 0) {
        close(inotify_fd);
    }
    if (stop_fd >= 0) {
        close(stop_fd);
    }
}

void TextureWatcher::stop() {
    const uint64_t one = 1;
    if (stop_fd >= 0 && write(stop_fd, &one, sizeof(one)) < 0) {
        // The counter cannot overflow from one write; nothing else can fail here.
    }
}

void TextureWatcher::watchDirectory() {
    dropDirectoryWatch();
    dir_watch = inotify_add_watch(inotify_fd, dir.c_str(), kDirEvents);
}

void TextureWatcher::dropDirectoryWatch() {
    if (dir_watch >= 0) {
        inotify_rm_watch(inotify_fd, dir_watch);
        dir_watch = -1;
    }
    writing.clear();  // whatever was being written there is not ours to wait for now
}

// A new symlink or hard link is complete at once; a new file is complete when closed.
bool TextureWatcher::complete(const std::string& name) {
    struct stat info;
    if (lstat((dir + "/" + name).c_str(), &info) != 0) {
        return true;  // gone already
    }
    return S_ISLNK(info.st_mode) || (S_ISREG(info.st_mode) && info.st_nlink > 1);
}

bool TextureWatcher::readEvents(Changes* changes) {
    bool changed = false;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t length = read(inotify_fd, buffer, sizeof(buffer));
        if (length <= 0) {
            break;
        }
        for (ssize_t at = 0; at < length;) {
            const inotify_event* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            const std::string name = event->len > 0 ? std::string(event->name) : std::string();
            if (event->mask & IN_Q_OVERFLOW) {
                changes->everything = changed = true;
            } else if (event->wd == parent_watch && event->wd >= 0) {
                if (name == leaf) {
                    watchDirectory();  // the directory came, went or was replaced
                    changes->everything = changed = true;
                }
            } else if (event->wd == dir_watch && event->wd >= 0) {
                if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    dropDirectoryWatch();
                    changes->everything = changed = true;
                } else if (event->mask & (IN_MODIFY | IN_CREATE)) {
                    if ((event->mask & IN_MODIFY) || !complete(name)) {
                        writing.insert(name);
                    } else {
                        changes->names.push_back(name);
                        changed = true;
                    }
                } else if (!name.empty()) {
                    // Closed after writing, renamed in or away, removed, attributes.
                    if (!(event->mask & IN_ATTRIB)) {
                        writing.erase(name);
                    }
                    changes->names.push_back(name);
                    changed = true;
                }
            }
        }
    }
    return changed;
}

bool TextureWatcher::wait(Changes* changes) {
    *changes = Changes();
    if (inotify_fd < 0 || stop_fd < 0) {
        // No inotify: nothing will ever change; wait only for the stop.
        pollfd only = {stop_fd, POLLIN, 0};
        while (stop_fd >= 0 && poll(&only, 1, -1) < 0) {
        }
        return false;
    }
    bool pending = false;
    Clock::time_point first, last;
    for (;;) {
        int timeout = -1;
        if (pending) {
            const Clock::time_point due = std::min(last + kQuiet, first + kMostDelay);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            timeout = left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0;
        } else if (dir_watch < 0) {
            timeout = kRetryMs;
        }
        pollfd fds[2] = {{stop_fd, POLLIN, 0}, {inotify_fd, POLLIN, 0}};
        const int ready = poll(fds, 2, timeout);
        if (fds[0].revents != 0) {
            return false;
        }
        const Clock::time_point now = Clock::now();
        bool changed = ready > 0 && readEvents(changes);
        if (dir_watch < 0) {
            watchDirectory();
            if (dir_watch >= 0) {
                changes->everything = changed = true;  // it is back
            }
        }
        if (changed) {
            if (!pending) {
                first = now;
            }
            pending = true;
            last = now;
        }
        if (pending && Clock::now() >= std::min(last + kQuiet, first + kMostDelay)) {
            changes->writing = writing;
            return true;
        }
    }
}

}  // namespace Lumetra
