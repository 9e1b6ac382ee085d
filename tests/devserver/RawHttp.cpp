#include "RawHttp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace rawhttp {

Connection::Connection(int port)
{
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        throw std::runtime_error("cannot connect to the development server");
    const int yes = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    timeval timeout{10, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

Connection::~Connection()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void Connection::send(const std::string &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            throw std::runtime_error("send failed");
        sent += static_cast<std::size_t>(n);
    }
}

Response Connection::readResponse()
{
    auto fill = [this] {
        char chunk[65536];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return false;
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        return true;
    };
    Response response;
    std::size_t headEnd;
    while ((headEnd = m_buffer.find("\r\n\r\n")) == std::string::npos)
        if (!fill())
            return response;
    const std::string head = m_buffer.substr(0, headEnd);
    m_buffer.erase(0, headEnd + 4);
    response.status = std::stoi(head.substr(9, 3));
    std::size_t position = head.find("\r\n");
    while (position != std::string::npos && position < head.size()) {
        const auto next = head.find("\r\n", position + 2);
        const std::string line = head.substr(position + 2, next == std::string::npos ? std::string::npos : next - position - 2);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (char &c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            response.headers[name] = line.substr(line.find_first_not_of(' ', colon + 1));
        }
        position = next;
    }
    const std::size_t length = std::stoull(response.headers.at("content-length"));
    while (m_buffer.size() < length && fill()) {
    }
    response.complete = m_buffer.size() >= length;
    response.body = m_buffer.substr(0, length);
    m_buffer.erase(0, response.body.size());
    return response;
}

std::string requestText(int port, const std::string &method, const std::string &target, const std::string &token,
                        const std::string &body, const std::string &contentType)
{
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nAccept: application/json\r\n";
    if (!token.empty())
        text += "Authorization: Bearer " + token + "\r\n";
    if (!body.empty())
        text += "Content-Type: " + contentType + "\r\n";
    text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    return text;
}

Response request(int port, const std::string &method, const std::string &target, const std::string &token,
                 const std::string &body, const std::string &contentType)
{
    Connection connection(port);
    connection.send(requestText(port, method, target, token, body, contentType));
    return connection.readResponse();
}

std::string uploadForm(const std::string &boundary, const std::string &fileName, const std::string &content,
                       const std::string &name, const std::string &folderId)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName
        + "\"\r\nContent-Type: text/plain\r\n\r\n" + content + "\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\n" + name + "\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"folder_id\"\r\n\r\n" + folderId + "\r\n--" + boundary
        + "--\r\n";
}

Response upload(int port, const std::string &token, const std::string &name, const std::string &content,
                int64_t folderId)
{
    const std::string boundary = "6F1D2C3B-0A9E-4F8D-B7C6-5E4D3C2B1A09";
    return request(port, "POST", "/api/v1/documents", token,
                   uploadForm(boundary, name, content, name, std::to_string(folderId)),
                   "multipart/form-data; boundary=" + boundary);
}

std::string pathOf(const std::string &url)
{
    const auto scheme = url.find("://");
    return url.substr(url.find('/', scheme == std::string::npos ? 0 : scheme + 3));
}

} // namespace rawhttp
