#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace LumetraTest {

// A plain HTTP/1.1 client over a real TCP socket to 127.0.0.1, one request per connection.
struct HttpReply {
    int status = 0;  // 0: no answer
    std::string headers;
    std::string body;
    std::string header(const std::string& name) const;
};

HttpReply httpRequest(int port, const std::string& method, const std::string& path,
                      const std::string& body = "", const std::vector<std::string>& headers = {},
                      double timeout_seconds = 10);

// What the server sent on one connection within `seconds` (for streams that do not end).
std::string httpReadFor(int port, const std::string& path, double seconds);

// A connected socket to 127.0.0.1:port, or -1.
int tcpConnect(int port);

// A TCP port on 127.0.0.1 that nothing listens on right now.
int freeTcpPort();

// Waits up to `seconds` for GET `path` to answer 200.
bool waitForHttp(int port, const std::string& path, double seconds);

// "Authorization: Basic ..." for user and password.
std::string basicAuth(const std::string& user, const std::string& password);

// A PNG decoded to RGBA (rows top first); empty when it is none.
std::vector<uint8_t> decodePng(const std::string& bytes, int* width, int* height);

}  // namespace LumetraTest
