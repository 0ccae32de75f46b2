#include "support/http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stb/stb_image.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace LumetraTest {

namespace {

using Clock = std::chrono::steady_clock;

// Until the peer closes, the time is up, or (with `whole_reply`) a reply with a
// Content-Length is complete: some servers keep the connection open regardless.
std::string readAll(int fd, double seconds, bool whole_reply = false) {
    std::string data;
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    char buffer[65536];
    while (Clock::now() < end) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left > 0 ? left : 0)) <= 0) {
            break;
        }
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0) {
            break;
        }
        data.append(buffer, static_cast<size_t>(n));
        const size_t end_of_head = data.find("\r\n\r\n");
        if (whole_reply && end_of_head != std::string::npos) {
            HttpReply head;
            head.headers = data.substr(0, end_of_head + 2);
            const std::string length = head.header("Content-Length");
            if (!length.empty() &&
                data.size() >= end_of_head + 4 + std::strtoul(length.c_str(), nullptr, 10)) {
                break;
            }
        }
    }
    return data;
}

bool sendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string HttpReply::header(const std::string& name) const {
    size_t at = 0;
    while ((at = headers.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (strncasecmp(headers.c_str() + at, (name + ":").c_str(), name.size() + 1) == 0) {
            size_t begin = at + name.size() + 1;
            while (begin < headers.size() && headers[begin] == ' ') {
                ++begin;
            }
            return headers.substr(begin, headers.find("\r\n", begin) - begin);
        }
    }
    return "";
}

int tcpConnect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int freeTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

HttpReply httpRequest(int port, const std::string& method, const std::string& path,
                      const std::string& body, const std::vector<std::string>& headers,
                      double timeout_seconds) {
    HttpReply reply;
    const int fd = tcpConnect(port);
    if (fd < 0) {
        return reply;
    }
    std::string request =
        method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (const std::string& header : headers) {
        request += header + "\r\n";
    }
    if (!body.empty() || method == "PUT" || method == "POST") {
        request += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    request += "\r\n" + body;
    sendAll(fd, request);
    const std::string answer = readAll(fd, timeout_seconds, true);
    close(fd);
    const size_t end = answer.find("\r\n\r\n");
    if (answer.compare(0, 9, "HTTP/1.1 ") != 0 || end == std::string::npos) {
        return reply;
    }
    reply.status = std::atoi(answer.c_str() + 9);
    reply.headers = answer.substr(0, end + 2);
    reply.body = answer.substr(end + 4);
    return reply;
}

std::string httpReadFor(int port, const std::string& path, double seconds) {
    const int fd = tcpConnect(port);
    if (fd < 0) {
        return "";
    }
    sendAll(fd, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const std::string answer = readAll(fd, seconds);
    close(fd);
    return answer;
}

bool waitForHttp(int port, const std::string& path, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (httpRequest(port, "GET", path, "", {}, 2).status == 200) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string basicAuth(const std::string& user, const std::string& password) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string in = user + ":" + password;
    std::string out;
    for (size_t i = 0; i < in.size(); i += 3) {
        unsigned n = static_cast<unsigned char>(in[i]) << 16;
        if (i + 1 < in.size())
            n |= static_cast<unsigned char>(in[i + 1]) << 8;
        if (i + 2 < in.size())
            n |= static_cast<unsigned char>(in[i + 2]);
        out += kDigits[(n >> 18) & 63];
        out += kDigits[(n >> 12) & 63];
        out += i + 1 < in.size() ? kDigits[(n >> 6) & 63] : '=';
        out += i + 2 < in.size() ? kDigits[n & 63] : '=';
    }
    return "Authorization: Basic " + out;
}

std::vector<uint8_t> decodePng(const std::string& bytes, int* width, int* height) {
    int channels = 0;
    unsigned char* pixels =
        stbi_load_from_memory(reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<int>(bytes.size()), width, height, &channels, 4);
    if (pixels == nullptr) {
        return {};
    }
    std::vector<uint8_t> rgba(pixels, pixels + static_cast<size_t>(*width) * *height * 4);
    stbi_image_free(pixels);
    return rgba;
}

}  // namespace LumetraTest
