#pragma once

#include "HttpServer.h"
#include "MultipartParser.h"
#include "Sha256.h"
#include "Store.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace devserver {

// Receives one upload form from the request stream: the "file" part goes
// straight to a temporary file in the data directory and is hashed on the
// way, the small text parts are collected. The temporary file is removed
// unless the store took it (release()).
class UploadReceiver {
public:
    explicit UploadReceiver(std::string tempPath);
    ~UploadReceiver();
    UploadReceiver(const UploadReceiver &) = delete;
    UploadReceiver &operator=(const UploadReceiver &) = delete;

    // nullopt on success, else the reason the body was rejected.
    std::optional<std::string> receive(const std::string &boundary, BodyReader &body);

    bool hasFile() const { return m_hasFile; }
    const std::map<std::string, std::string> &fields() const { return m_fields; }
    const UploadedContent &content() const { return m_content; }
    void release() { m_released = true; }

private:
    bool partBegins(const MultipartPart &part);
    bool partData(const char *data, std::size_t size);
    bool partEnds();

    UploadedContent m_content;
    std::map<std::string, std::string> m_fields;
    int m_fd = -1;
    bool m_hasFile = false;
    bool m_inFile = false;
    std::string m_currentField;
    std::string m_failure;
    bool m_released = false;
    std::unique_ptr<Sha256> m_hash;
};

} // namespace devserver
