#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace LumetraTest {

// The built rpi_lumetra run silently and offscreen in `dir`, with its output in
// dir/program.log and snapshots of its frames on request.
class SnapshotProgram {
  public:
    // Returns once the program has been exec'd.
    SnapshotProgram(const std::string& dir, int width, int height, int refresh);
    ~SnapshotProgram();

    SnapshotProgram(const SnapshotProgram&) = delete;
    SnapshotProgram& operator=(const SnapshotProgram&) = delete;

    // RGBA pixels (top row first) of the next frame the program draws; empty when no
    // snapshot of the expected size arrived within three seconds.
    std::vector<uint8_t> nextFrame();
    // Sends SIGTERM and waits for the end; the seconds it took. Then exitStatus() holds
    // the exit status (128 + signal when killed).
    double stop();
    int exitStatus() const { return exit_status; }
    // The program's process id, from its exec on; -1 once it has ended.
    pid_t processId() const { return pid; }
    // Waits up to `seconds` for the program to end by itself; true when it has (then
    // exitStatus() holds its status).
    bool waitForEnd(double seconds);
    const std::string& snapshotPath() const { return snapshot; }

  private:
    std::string snapshot;
    int width;
    int height;
    pid_t pid = -1;
    int exit_status = -1;
};

}  // namespace LumetraTest
