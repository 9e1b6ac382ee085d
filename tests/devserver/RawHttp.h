#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

// A deliberately plain blocking HTTP/1.1 client over a socket, so tests see
// exactly what the server sends (short bodies included) and can send a
// request in pieces of their choosing.
namespace rawhttp {

struct Response {
    int status = 0;
    std::map<std::string, std::string> headers; // lower-cased names
    std::string body;
    bool complete = false; // the whole announced Content-Length arrived
    nlohmann::json json() const { return nlohmann::json::parse(body); }
};

class Connection {
public:
    explicit Connection(int port);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void send(const std::string &bytes);
    Response readResponse();

private:
    int m_fd = -1;
    std::string m_buffer;
};

std::string requestText(int port, const std::string &method, const std::string &target, const std::string &token = {},
                        const std::string &body = {}, const std::string &contentType = "application/json");

Response request(int port, const std::string &method, const std::string &target, const std::string &token = {},
                 const std::string &body = {}, const std::string &contentType = "application/json");

// The upload form as the client builds it: file, name, folder_id.
std::string uploadForm(const std::string &boundary, const std::string &fileName, const std::string &content,
                       const std::string &name, const std::string &folderId);

Response upload(int port, const std::string &token, const std::string &name, const std::string &content,
                int64_t folderId);

// "/files/..." part of an absolute download URL.
std::string pathOf(const std::string &url);

} // namespace rawhttp
