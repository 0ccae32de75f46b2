#pragma once

#include <functional>
#include <string>

namespace Lumetra {

// Start-up loads 256 picture slots, which can take seconds; whoever shows the console
// registers a reporter here. It is called on the render thread after each slot, with
// done == total once loading has ended.
using LoadProgressReporter = std::function<void(int done, int total)>;

void setLoadProgressReporter(LoadProgressReporter reporter);
void reportLoadProgress(int done, int total);

// The program may be asked to quit while it loads; whoever owns the quit switch registers a
// query here, and the loading stops at the next slot when it answers true (the slots not
// loaded stay empty). Asked on the render thread.
using LoadStopQuery = std::function<bool()>;

void setLoadStopQuery(LoadStopQuery query);
bool loadStopRequested();

// One line about a picture that was reduced or not shown, without a line end. Without a
// registered reporter it goes to standard error. Called on the render thread.
using LoadNoticeReporter = std::function<void(const std::string& line)>;

void setLoadNoticeReporter(LoadNoticeReporter reporter);
void reportLoadNotice(const std::string& line);

// Whether the picture directory is watched while the show runs (RELOAD= in config.txt);
// set before the pictures are loaded. On unless switched off.
void setPictureReload(bool on);
bool pictureReload();

}  // namespace Lumetra
