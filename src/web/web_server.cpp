#include "web/web_server.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "canvas/canvas_content/content_local_file_texture/slot_files.h"
#include "config_writer.h"
#include "dmx_frame_copy.h"
#include "web/identify_pattern.h"
#include "web/picture_library.h"
#include "web/preview_frames.h"
#include "web/web_assets.h"
#include "web/web_parsing.h"

namespace Lumetra {

namespace {

const char kUser[] = "lumetra";
const size_t kMaxConfigBody = 8192;
const size_t kMaxNotices = 32;

// A body in memory, answered with `status`.
int answer(MHD_Connection* connection, unsigned status, const std::string& body,
           const char* content_type) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", content_type);
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    const int result = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return result;
}

int answerJson(MHD_Connection* connection, unsigned status, const std::string& json) {
    return answer(connection, status, json, "application/json");
}

int answerError(MHD_Connection* connection, unsigned status, const std::string& why) {
    return answerJson(connection, status, "{\"error\":" + jsonString(why) + "}");
}

int answerBytes(MHD_Connection* connection, const std::vector<uint8_t>& bytes,
                const char* content_type, const char* extra_name = nullptr,
                const std::string& extra_value = "") {
    MHD_Response* response = MHD_create_response_from_buffer(
        bytes.size(), const_cast<uint8_t*>(bytes.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", content_type);
    MHD_add_response_header(response, "Cache-Control", "no-store");
    if (extra_name != nullptr) {
        MHD_add_response_header(response, extra_name, extra_value.c_str());
    }
    const int result = MHD_queue_response(connection, 200, response);
    MHD_destroy_response(response);
    return result;
}

std::string readSmallFile(const char* path) {
    FILE* file = std::fopen(path, "re");
    if (file == nullptr) {
        return "";
    }
    char buffer[4096];
    const size_t n = std::fread(buffer, 1, sizeof(buffer) - 1, file);
    std::fclose(file);
    return std::string(buffer, n);
}

long residentKilobytes() {
    const std::string status = readSmallFile("/proc/self/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 6);
}

std::string addressesJson() {
    std::string json = "[";
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
        bool first = true;
        for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
                continue;
            }
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr, text,
                      sizeof(text));
            json += std::string(first ? "" : ",") +
                    "{\"interface\":" + jsonString(entry->ifa_name) +
                    ",\"address\":" + jsonString(text) + "}";
            first = false;
        }
        freeifaddrs(list);
    }
    return json + "]";
}

double secondsSince(std::chrono::steady_clock::time_point then) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - then).count();
}

}  // namespace

struct WebServer::Request {
    std::string body;
    bool body_too_large = false;
    bool refused = false;  // an answer has been queued before the body was read
    bool begun = false;
    std::unique_ptr<PictureLibrary::Upload> upload;
    PictureLibrary::Result upload_result;
};

// One client of /api/events: DMX values at most ten times a second while they change,
// the status every two seconds.
struct WebServer::EventStream {
    WebServer* server = nullptr;
    std::string pending;
    size_t offset = 0;
    uint64_t dmx_updates = ~uint64_t(0);
    std::chrono::steady_clock::time_point last_dmx{};
    std::chrono::steady_clock::time_point last_status{};
};

struct WebServerCallbacks {
    static MHD_Result onRequest(void* self, MHD_Connection* connection, const char* url,
                                const char* method, const char*, const char* upload_data,
                                size_t* upload_data_size, void** state) {
        auto* server = static_cast<WebServer*>(self);
        auto* request = static_cast<WebServer::Request*>(*state);
        if (request == nullptr) {
            request = new WebServer::Request();
            *state = request;
        }
        return static_cast<MHD_Result>(
            server->serve(connection, url, method, upload_data, upload_data_size, request));
    }

    static void onCompleted(void*, MHD_Connection*, void** state, MHD_RequestTerminationCode) {
        delete static_cast<WebServer::Request*>(*state);
        *state = nullptr;
    }

    static ssize_t readEvents(void* cls, uint64_t, char* buffer, size_t max) {
        auto* stream = static_cast<WebServer::EventStream*>(cls);
        WebServer* server = stream->server;
        while (stream->offset >= stream->pending.size()) {
            if (server->stopping.load()) {
                return MHD_CONTENT_READER_END_OF_STREAM;
            }
            stream->pending.clear();
            stream->offset = 0;
            const auto now = std::chrono::steady_clock::now();
            if (server->fixture.dmx != nullptr &&
                now - stream->last_dmx >= std::chrono::milliseconds(100) &&
                server->fixture.dmx->updates() != stream->dmx_updates) {
                stream->dmx_updates = server->fixture.dmx->updates();
                stream->last_dmx = now;
                stream->pending = "event: dmx\ndata: " + server->dmxJson() + "\n\n";
            } else if (now - stream->last_status >= std::chrono::seconds(2)) {
                stream->last_status = now;
                stream->pending = "event: status\ndata: " + server->statusJson() + "\n\n";
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        const size_t n = std::min(max, stream->pending.size() - stream->offset);
        std::memcpy(buffer, stream->pending.data() + stream->offset, n);
        stream->offset += n;
        return static_cast<ssize_t>(n);
    }

    static void freeEvents(void* cls) {
        auto* stream = static_cast<WebServer::EventStream*>(cls);
        stream->server->event_streams.fetch_sub(1);
        delete stream;
    }
};

WebServer::WebServer(const WebSettings& s, Fixture f)
    : settings(s), fixture(std::move(f)), started(std::chrono::steady_clock::now()) {
    if (settings.port <= 0) {
        start_error = "WEB_PORT=0";
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(settings.port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!settings.address.empty() &&
        inet_pton(AF_INET, settings.address.c_str(), &address.sin_addr) != 1) {
        start_error = "WEB_ADDRESS=" + settings.address + " is no IPv4 address";
        return;
    }
    // A thread per connection: an event stream may wait in its reader without holding up
    // anyone else. The limits bound threads, memory per connection (headers included) and
    // how long an idle or slow client is kept.
    daemon = MHD_start_daemon(
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL,
        static_cast<uint16_t>(settings.port), nullptr, nullptr, &WebServerCallbacks::onRequest,
        this, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit,
        MHD_OPTION_CONNECTION_TIMEOUT, kTimeoutSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        static_cast<size_t>(32 * 1024), MHD_OPTION_THREAD_STACK_SIZE,
        static_cast<size_t>(256 * 1024), MHD_OPTION_NOTIFY_COMPLETED,
        &WebServerCallbacks::onCompleted, this, MHD_OPTION_END);
    if (daemon == nullptr) {
        char text[160];
        std::snprintf(text, sizeof(text), "port %d cannot be opened (%s)", settings.port,
                      errno != 0 ? std::strerror(errno) : "in use?");
        start_error = text;
    }
}

WebServer::~WebServer() {
    stopping.store(true);
    if (daemon != nullptr) {
        MHD_stop_daemon(daemon);
    }
}

void WebServer::addNotice(const std::string& line) {
    std::lock_guard<std::mutex> hold(notices_lock);
    if (notices.size() >= kMaxNotices) {
        notices.erase(notices.begin());
    }
    notices.push_back(line);
}

int WebServer::serve(MHD_Connection* connection, const std::string& url, const std::string& method,
                     const char* upload_data, size_t* upload_data_size, Request* request) {
    const bool has_body = method == "PUT" || method == "POST";
    if (!request->begun) {
        request->begun = true;
        if (!has_body) {
            return MHD_YES;  // the next call answers
        }
        // A change is refused before its body is read.
        bool refused = false;
        const int result = refuseChange(connection, &refused);
        if (refused) {
            request->refused = true;
            return result;
        }
        int slot = -1;
        bool thumbnail = false;
        if (method == "PUT" && parseSlotRoute(url, &slot, &thumbnail) && slot >= 0 && !thumbnail &&
            fixture.library != nullptr) {
            const char* name =
                MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "name");
            std::string stem;
            std::string extension;
            if (name == nullptr || !parseUploadName(name, &stem, &extension)) {
                request->refused = true;
                return answerError(connection, 400,
                                   "name= must be a file name such as sunset.png: letters, "
                                   "digits, '-', '_', one extension the slots know");
            }
            const char* length =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Length");
            if (length != nullptr &&
                std::strtoull(length, nullptr, 10) > fixture.library->maxUpload()) {
                request->refused = true;
                return answerError(
                    connection, 413,
                    "the file is larger than " + memoryText(fixture.library->maxUpload()));
            }
            request->upload = std::make_unique<PictureLibrary::Upload>();
            const PictureLibrary::Result begun =
                fixture.library->begin(slot, stem, extension, request->upload.get());
            if (begun.status != 200) {
                request->upload.reset();
                request->refused = true;
                return answerError(connection, static_cast<unsigned>(begun.status), begun.error);
            }
        }
        return MHD_YES;
    }
    if (request->refused) {
        *upload_data_size = 0;  // the answer is out; the rest of the body is dropped
        return MHD_YES;
    }
    if (*upload_data_size > 0) {
        if (request->upload) {
            if (request->upload_result.status == 200) {
                request->upload_result = request->upload->write(upload_data, *upload_data_size);
                if (request->upload_result.status != 200) {
                    // Answered now: the connection closes after it, instead of reading
                    // up to a gigabyte for nothing.
                    request->refused = true;
                    *upload_data_size = 0;
                    request->upload.reset();
                    return answerError(connection,
                                       static_cast<unsigned>(request->upload_result.status),
                                       request->upload_result.error);
                }
            }
        } else if (request->body.size() + *upload_data_size > kMaxConfigBody) {
            request->body_too_large = true;
        } else {
            request->body.append(upload_data, *upload_data_size);
        }
        *upload_data_size = 0;
        return MHD_YES;
    }
    if (request->body_too_large) {
        return answerError(connection, 413, "the request body is larger than 8 KB");
    }
    return dispatch(connection, url, method, request);
}

int WebServer::refuseChange(MHD_Connection* connection, bool* refused) {
    *refused = true;
    if (settings.password.empty()) {
        return answerError(connection, 403,
                           "this fixture is read-only: set WEB_PASSWORD= in its config.txt "
                           "and restart it to allow changes");
    }
    const char* auth = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization");
    const char* marker =
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "X-Lumetra-Request");
    if (!basicAuthMatches(auth, kUser, settings.password)) {
        const std::string body = "{\"error\":\"user lumetra and the password are needed\"}";
        MHD_Response* response = MHD_create_response_from_buffer(
            body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
        if (response == nullptr) {
            return MHD_NO;
        }
        MHD_add_response_header(response, "Content-Type", "application/json");
        // The page asks for the password itself; only other clients get the browser's box.
        if (marker == nullptr) {
            MHD_add_response_header(response, "WWW-Authenticate", "Basic realm=\"Lumetra\"");
        }
        const int result = MHD_queue_response(connection, 401, response);
        MHD_destroy_response(response);
        return result;
    }
    if (marker == nullptr || std::strcmp(marker, "1") != 0) {
        return answerError(connection, 403, "changes need the header X-Lumetra-Request: 1");
    }
    *refused = false;
    return MHD_YES;
}

int WebServer::dispatch(MHD_Connection* connection, const std::string& url,
                        const std::string& method, Request* request) {
    int slot = -1;
    bool thumbnail = false;
    if (url.compare(0, 5, "/api/") != 0 && url != "/api") {
        if (method != "GET" && method != "HEAD") {
            return answerError(connection, 405, "pages are only read");
        }
        const WebAsset* asset = findWebAsset(url == "/" ? "/index.html" : url);
        if (asset == nullptr) {
            return answerError(connection, 404, "no page " + url);
        }
        MHD_Response* response = MHD_create_response_from_buffer(
            asset->size, const_cast<char*>(asset->data), MHD_RESPMEM_PERSISTENT);
        MHD_add_response_header(response, "Content-Type", asset->content_type);
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(response, "Content-Security-Policy",
                                "default-src 'self'; img-src 'self' blob: data:; "
                                "style-src 'self'; frame-ancestors 'none'");
        const int result = MHD_queue_response(connection, 200, response);
        MHD_destroy_response(response);
        return result;
    }
    if (method == "GET" && url == "/api/status") {
        return answerJson(connection, 200, statusJson());
    }
    if (method == "GET" && url == "/api/dmx") {
        return answerJson(connection, 200, dmxJson());
    }
    if (method == "GET" && url == "/api/config") {
        return answerJson(connection, 200, configJson());
    }
    if (method == "GET" && url == "/api/events") {
        return serveEvents(connection);
    }
    if (method == "GET" && url == "/api/preview") {
        if (fixture.preview == nullptr) {
            return answerError(connection, 503, "no preview: the output is not drawn");
        }
        // A frame at most a fifth of a second older than the request, waited for up to
        // a second (the render thread is asked for one as soon as somebody watches).
        const auto asked = std::chrono::steady_clock::now();
        PreviewFrames::Image image;
        fixture.preview->newest(asked - PreviewFrames::kInterval, std::chrono::seconds(1), &image);
        if (image.png.empty()) {
            return answerError(connection, 503, "no frame has been drawn yet");
        }
        const long age_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  std::chrono::steady_clock::now() - image.drawn)
                                                  .count());
        return answerBytes(connection, image.png, "image/png", "X-Lumetra-Frame-Age-Ms",
                           std::to_string(age_ms));
    }
    if (parseSlotRoute(url, &slot, &thumbnail)) {
        if (fixture.library == nullptr) {
            return answerError(connection, 503, "no picture library");
        }
        if (method == "GET" && slot < 0) {
            return answerJson(connection, 200, fixture.library->listJson());
        }
        if (method == "GET" && thumbnail) {
            std::vector<uint8_t> png;
            const PictureLibrary::Result result = fixture.library->thumbnail(slot, &png);
            if (result.status != 200) {
                return answerError(connection, static_cast<unsigned>(result.status), result.error);
            }
            return answerBytes(connection, png, "image/png");
        }
        if (method == "PUT" && slot >= 0 && !thumbnail && request->upload) {
            const PictureLibrary::Result result = request->upload->finish();
            const uint64_t bytes = request->upload->bytes();
            request->upload.reset();
            if (result.status != 200) {
                return answerError(connection, static_cast<unsigned>(result.status), result.error);
            }
            return answerJson(
                connection, 201,
                "{\"slot\":" + std::to_string(slot) + ",\"bytes\":" + std::to_string(bytes) + "}");
        }
        if (method == "DELETE" && slot >= 0 && !thumbnail) {
            bool refused = false;
            const int answered = refuseChange(connection, &refused);
            if (refused) {
                return answered;
            }
            const PictureLibrary::Result result = fixture.library->remove(slot);
            if (result.status != 200) {
                return answerError(connection, static_cast<unsigned>(result.status), result.error);
            }
            return answerJson(connection, 200, "{\"slot\":" + std::to_string(slot) + "}");
        }
        return answerError(connection, 405, method + " is not allowed on " + url);
    }
    if (method == "PUT" && url == "/api/config") {
        return putConfig(connection, request->body);
    }
    if (method == "POST" && url == "/api/restart") {
        if (!fixture.restart) {
            return answerError(connection, 503, "restart is not available");
        }
        fixture.restart();
        return answerJson(connection, 202, "{\"restarting\":true}");
    }
    if (method == "POST" && url == "/api/identify") {
        const char* text =
            MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "seconds");
        int seconds = 30;
        if (text != nullptr) {
            const std::string value = text;
            seconds = -1;
            if (!value.empty() && value.size() <= 4 &&
                value.find_first_not_of("0123456789") == std::string::npos) {
                seconds = std::atoi(text);
            }
            if (seconds < 0 || seconds > 3600) {
                return answerError(connection, 400, "seconds= must be 0 (off) to 3600");
            }
        }
        if (!fixture.identify) {
            return answerError(connection, 503, "identify is not available");
        }
        fixture.identify(seconds, identifyLines());
        return answerJson(connection, 200, "{\"seconds\":" + std::to_string(seconds) + "}");
    }
    if (url == "/api/status" || url == "/api/dmx" || url == "/api/config" || url == "/api/events" ||
        url == "/api/preview" || url == "/api/restart" || url == "/api/identify") {
        return answerError(connection, 405, method + " is not allowed on " + url);
    }
    return answerError(connection, 404, "no API " + url);
}

int WebServer::serveEvents(MHD_Connection* connection) {
    if (event_streams.fetch_add(1) >= kEventStreams) {
        event_streams.fetch_sub(1);
        return answerError(connection, 503, "too many event streams are open");
    }
    auto* stream = new EventStream();
    stream->server = this;
    MHD_Response* response =
        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &WebServerCallbacks::readEvents,
                                          stream, &WebServerCallbacks::freeEvents);
    if (response == nullptr) {
        WebServerCallbacks::freeEvents(stream);
        return MHD_NO;
    }
    MHD_add_response_header(response, "Content-Type", "text/event-stream");
    MHD_add_response_header(response, "Cache-Control", "no-store");
    const int result = MHD_queue_response(connection, 200, response);
    MHD_destroy_response(response);
    return result;
}

std::string WebServer::dmxJson() {
    if (fixture.dmx == nullptr) {
        return "{\"values\":[],\"updates\":0}";
    }
    const DmxFrameCopy::Snapshot frame = fixture.dmx->read();
    std::string json = "{\"updates\":" + std::to_string(frame.updates) + ",\"values\":[";
    for (int i = 0; i < 512; ++i) {
        json += (i > 0 ? "," : "") + std::to_string(frame.values[i]);
    }
    return json + "]}";
}

std::string WebServer::fixtureName() {
    const auto values = readConfigValues(fixture.config_path);
    auto named = values.find("NAME");
    if (named != values.end() && !named->second.empty()) {
        return named->second;
    }
    char host[256] = "";
    gethostname(host, sizeof(host) - 1);
    return host;
}

std::vector<std::string> WebServer::identifyLines() {
    IdentifyFacts facts;
    facts.name = fixtureName();
    facts.net = fixture.net;
    facts.subnet = fixture.subnet;
    facts.universe = fixture.universe;
    facts.dmx_start = fixture.dmx_start;
    facts.canvases = fixture.canvases;
    return Lumetra::identifyLines(facts);
}

std::string WebServer::statusJson() {
    const auto values = readConfigValues(fixture.config_path);
    const std::string name = fixtureName();
    int channels = 20;
    auto mode = values.find("CHANNELS");
    if (mode != values.end() && mode->second == "32") {
        channels = 32;
    }
    char number[64];
    std::string json = "{\"name\":" + jsonString(name);
    json += ",\"version\":" + jsonString(fixture.version);
    json += ",\"addresses\":" + addressesJson();
    json += ",\"display\":{\"width\":" + std::to_string(fixture.screen_width) +
            ",\"height\":" + std::to_string(fixture.screen_height) +
            ",\"renderer\":" + jsonString(fixture.renderer) +
            ",\"note\":" + jsonString(fixture.display_note) + "}";
    std::snprintf(number, sizeof(number), "%.2f",
                  fixture.fps != nullptr ? static_cast<double>(fixture.fps->load()) : 0.0);
    json += ",\"fps\":" + std::string(number);
    json += ",\"artnet\":{\"subnet\":" + std::to_string(fixture.subnet) +
            ",\"universe\":" + std::to_string(fixture.universe) + "}";
    json += ",\"sacn_universe\":" + std::to_string(fixture.sacn_universe);
    json += ",\"dmx_mode\":" + std::to_string(channels);
    json += ",\"dmx_start\":" + std::to_string(fixture.dmx_start);
    json += ",\"canvases\":" + std::to_string(fixture.canvases);
    json += ",\"sources\":[";
    if (fixture.dmx != nullptr) {
        const DmxFrameCopy::Snapshot frame = fixture.dmx->read();
        for (size_t i = 0; i < frame.sources.size(); ++i) {
            const DmxFrameCopy::Source& source = frame.sources[i];
            const double span =
                std::chrono::duration<double>(source.last_seen - source.first_seen).count();
            std::snprintf(number, sizeof(number), "%.1f",
                          span > 0.5 ? (source.frames - 1) / span : 0.0);
            char ago[32];
            std::snprintf(ago, sizeof(ago), "%.1f", secondsSince(source.last_seen));
            json += std::string(i > 0 ? "," : "") + "{\"address\":" + jsonString(source.address) +
                    ",\"protocol\":" + jsonString(source.protocol) + ",\"priority\":" +
                    (source.priority < 0 ? std::string("null") : std::to_string(source.priority)) +
                    ",\"fps\":" + number + ",\"seconds_ago\":" + ago +
                    ",\"frames\":" + std::to_string(source.frames) + "}";
        }
    }
    json += "]";
    const SlotFiles files = SlotFiles::scan(kTextureDir);
    int pictures = 0;
    for (int n = 0; n < SlotFiles::kSlots; ++n) {
        pictures += files.slot(n).path.empty() ? 0 : 1;
    }
    json += ",\"pictures\":" + std::to_string(pictures);
    json += ",\"notices\":[";
    {
        std::lock_guard<std::mutex> hold(notices_lock);
        for (size_t i = 0; i < notices.size(); ++i) {
            json += (i > 0 ? "," : "") + jsonString(notices[i]);
        }
    }
    json += "]";
    std::snprintf(number, sizeof(number), "%.0f", secondsSince(started));
    json += ",\"uptime_seconds\":" + std::string(number);
    json += ",\"memory_kb\":" + std::to_string(residentKilobytes());
    const std::string temperature = readSmallFile("/sys/class/thermal/thermal_zone0/temp");
    if (!temperature.empty()) {
        std::snprintf(number, sizeof(number), "%.1f", std::atol(temperature.c_str()) / 1000.0);
        json += ",\"cpu_temperature\":" + std::string(number);
    } else {
        json += ",\"cpu_temperature\":null";
    }
    json += ",\"warnings\":[";
    for (size_t i = 0; i < fixture.warnings.size(); ++i) {
        json += (i > 0 ? "," : "") + jsonString(fixture.warnings[i]);
    }
    json += "]";
    json += std::string(",\"read_only\":") + (settings.password.empty() ? "true" : "false");
    return json + "}";
}

std::string WebServer::configJson() {
    const auto values = readConfigValues(fixture.config_path);
    size_t count = 0;
    const ConfigKey* keys = configKeys(&count);
    std::string json =
        "{\"read_only\":" + std::string(settings.password.empty() ? "true" : "false");
    json += ",\"keys\":[";
    for (size_t i = 0; i < count; ++i) {
        const ConfigKey& key = keys[i];
        auto value = values.find(key.name);
        const bool secret = std::strcmp(key.kind, "password") == 0;
        char range[64];
        std::snprintf(range, sizeof(range), "%g,\"high\":%g", key.low, key.high);
        json +=
            std::string(i > 0 ? "," : "") + "{\"name\":" + jsonString(key.name) +
            ",\"kind\":" + jsonString(key.kind) + ",\"low\":" + range +
            ",\"default\":" + jsonString(key.fallback) + ",\"meaning\":" + jsonString(key.meaning) +
            ",\"set\":" + (value != values.end() ? "true" : "false") +
            ",\"value\":" + jsonString(value != values.end() && !secret ? value->second : "") + "}";
    }
    return json + "]}";
}

int WebServer::putConfig(MHD_Connection* connection, const std::string& body) {
    FormFields fields;
    if (!parseForm(body, &fields, 32) || fields.empty()) {
        return answerError(connection, 400,
                           "the body must be KEY=value pairs joined by '&' "
                           "(application/x-www-form-urlencoded)");
    }
    for (const auto& field : fields) {
        std::string why;
        if (!configValueAllowed(field.first, field.second, &why)) {
            return answerError(connection, 422, why);
        }
    }
    std::string error;
    if (!writeConfigValues(fixture.config_path, fields, &error)) {
        return answerError(connection, 500, error);
    }
    return answerJson(connection, 200, "{\"written\":true,\"restart_needed\":true}");
}

}  // namespace Lumetra
