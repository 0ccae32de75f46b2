#include "canvas/canvas_content/content_local_file_texture/load_progress.h"

#include <atomic>
#include <cstdio>
#include <utility>

#include "log/log.h"

namespace Lumetra {

namespace {
LoadProgressReporter& reporter() {
    static LoadProgressReporter instance;
    return instance;
}

LoadStopQuery& stopQuery() {
    static LoadStopQuery instance;
    return instance;
}

LoadNoticeReporter& noticeReporter() {
    static LoadNoticeReporter instance;
    return instance;
}
}  // namespace

void setLoadProgressReporter(LoadProgressReporter r) {
    reporter() = std::move(r);
}

void reportLoadProgress(int done, int total) {
    if (reporter()) {
        reporter()(done, total);
    }
}

void setLoadStopQuery(LoadStopQuery query) {
    stopQuery() = std::move(query);
}

bool loadStopRequested() {
    return stopQuery() && stopQuery()();
}

void setLoadNoticeReporter(LoadNoticeReporter r) {
    noticeReporter() = std::move(r);
}

void reportLoadNotice(const std::string& line) {
    if (noticeReporter()) {
        noticeReporter()(line);
    } else {
        logFixed(LogLevel::Notice, stderr, "%s\n", line.c_str());
    }
}

namespace {
std::atomic<bool> reload_on{true};
}  // namespace

void setPictureReload(bool on) {
    reload_on.store(on);
}

bool pictureReload() {
    return reload_on.load();
}

}  // namespace Lumetra
