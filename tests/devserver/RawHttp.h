#pragma once

#include "devserver/DevServer.h"

#include <gtest/gtest.h>
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

// A development server with one account, its token and a folder "Work",
// spoken to with the plain client above.
class RawServerFixture : public testing::Test {
protected:
    explicit RawServerFixture(int downloadLinkSeconds = 300) : server(optionsWith(downloadLinkSeconds))
    {
        server.start();
        server.addUser(email, "secret", "Ann Example", "Example Org");
        token = server.issueToken(email);
        folderId = server.createFolder(email, "Work", std::nullopt);
    }
    static DevServer::Options optionsWith(int downloadLinkSeconds)
    {
        DevServer::Options options;
        options.downloadLinkSeconds = downloadLinkSeconds;
        return options;
    }
    rawhttp::Response get(const std::string &target) { return rawhttp::request(server.port(), "GET", target, token); }

    const std::string email = "ann@example.test";
    DevServer server;
    std::string token;
    int64_t folderId = 0;
};
