#include "canvas/canvas_content/content_local_file_texture/load_progress.h"

#include <utility>

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

}  // namespace Lumetra
