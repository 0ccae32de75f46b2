#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "web/config_keys.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace Lumetra {

class DmxFrameCopy;
class PictureLibrary;
class PreviewFrames;

// The fixture's own web page and JSON API (libmicrohttpd, a thread per connection, all
// of them bounded). Reading is open; changes need the password and the header
// X-Lumetra-Request: 1. Its threads never touch the render loop: what they show comes
// from copies the fixture's threads publish (DMX frame, frame rate, preview).
class WebServer {
  public:
    // What the fixture hands over; every pointer outlives the server.
    struct Fixture {
        std::string version;
        std::string config_path = "config.txt";
        int net = 0;
        int subnet = 0;
        int universe = 0;
        int sacn_universe = 0;
        int dmx_start = 1;
        int canvases = 1;
        int screen_width = 0;
        int screen_height = 0;
        std::string display_note;
        std::string renderer;               // the GL's own name for what draws
        std::vector<std::string> warnings;  // found at start-up
        const DmxFrameCopy* dmx = nullptr;
        const std::atomic<float>* fps = nullptr;
        PreviewFrames* preview = nullptr;
        PictureLibrary* library = nullptr;
        // Called on a web thread: the main loop should end and the program start again.
        std::function<void()> restart;
        // Called on a web thread: show the test pattern with `lines` of text for `seconds`
        // (0: switch it off).
        std::function<void(int seconds, const std::vector<std::string>& lines)> identify;
    };

    static const unsigned kConnectionLimit = 600;
    static const unsigned kTimeoutSeconds = 15;
    static const int kEventStreams = 16;

    WebServer(const WebSettings& settings, Fixture fixture);
    ~WebServer();

    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // False when the port could not be opened (why in error()); the fixture runs without.
    bool running() const { return daemon != nullptr; }
    const std::string& error() const { return start_error; }

    // Notices about pictures, shown on the status page (the latest few).
    void addNotice(const std::string& line);

  private:
    friend struct WebServerCallbacks;
    struct Request;
    struct EventStream;
    int serve(MHD_Connection* connection, const std::string& url, const std::string& method,
              const char* upload_data, size_t* upload_data_size, Request* request);
    int dispatch(MHD_Connection* connection, const std::string& url, const std::string& method,
                 Request* request);
    // 0 when the change may go ahead; else the answer has been queued.
    int refuseChange(MHD_Connection* connection, bool* refused);
    int serveEvents(MHD_Connection* connection);
    std::string statusJson();
    std::string fixtureName();
    std::vector<std::string> identifyLines();
    std::string configJson();
    std::string dmxJson();
    int putConfig(MHD_Connection* connection, const std::string& body);

    const WebSettings settings;
    const Fixture fixture;
    const std::chrono::steady_clock::time_point started;
    MHD_Daemon* daemon = nullptr;
    std::string start_error;
    std::atomic<bool> stopping{false};
    std::atomic<int> event_streams{0};
    std::mutex notices_lock;
    std::vector<std::string> notices;
};

}  // namespace Lumetra
