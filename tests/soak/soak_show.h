#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace LumetraTest {

// What a long show looks like to the fixture: every canvas in a ring that changes its size,
// copy count, picture and spins on every DMX cycle.
class ChangingDesk {
  public:
    explicit ChangingDesk(int canvases, unsigned seed = 1);
    // The next cycle's ArtDmx datagram for universe 0, channels from 1.
    std::vector<unsigned char> next();

  private:
    int canvases;
    std::mt19937 random;
};

// The built rpi_lumetra run silently in `dir` with `canvases` canvases from channel 1 of
// universe 0 and a few small pictures, on the offscreen display or in its own Xvfb.
// `extra_config`: more lines for its config.txt.
class SoakProgram {
  public:
    enum class Display { Offscreen, X11 };
    SoakProgram(const std::string& dir, Display display, int width, int height, int canvases,
                const std::string& extra_config = "");
    ~SoakProgram();

    SoakProgram(const SoakProgram&) = delete;
    SoakProgram& operator=(const SoakProgram&) = delete;

    // True once the program holds the Art-Net port, within `seconds`.
    bool waitUntilListening(double seconds);
    bool running();
    // Resident set size of the program in kilobytes; -1 when it is gone.
    long residentKilobytes() const;
    // SIGTERM and wait; the exit status (128 + signal when killed).
    int stop();
    std::string log() const;

  private:
    bool startXvfb(int width, int height);
    std::string dir;
    std::string x_display;
    pid_t xvfb = -1;
    pid_t pid = -1;
    int exit_status = -1;
};

void PrintTo(SoakProgram::Display display, std::ostream* out);

// Resident sizes of one run, in kilobytes: at the first DMX cycle, after the warm-up,
// the highest and the last after it.
struct SoakFigures {
    long start_kb = -1;
    long warm_kb = -1;
    long peak_kb = -1;
    long end_kb = -1;
    long cycles = 0;
    bool survived = false;
};

// Plays the desk to the program for `warmup` and then `measure` seconds, one DMX cycle
// every 25 ms, and looks at the program's memory four times a second.
SoakFigures playShow(SoakProgram& program, ChangingDesk& desk, double warmup, double measure);

}  // namespace LumetraTest
