#include "UploadReceiver.h"

#include "MultipartParser.h"
#include "Sha256.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace devserver {

namespace {

constexpr std::size_t maxFieldBytes = 64 * 1024;
constexpr std::size_t readChunk = 256 * 1024;

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

UploadReceiver::UploadReceiver(std::string tempPath)
{
    m_content.tempPath = std::move(tempPath);
}

UploadReceiver::~UploadReceiver()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_released)
        ::unlink(m_content.tempPath.c_str());
}

std::optional<std::string> UploadReceiver::receive(const std::string &boundary, BodyReader &body)
{
    MultipartParser parser(boundary, {[this](const MultipartPart &part) { return partBegins(part); },
                                      [this](const char *data, std::size_t size) { return partData(data, size); },
                                      [this] { return partEnds(); }});
    std::vector<char> buffer(readChunk);
    for (;;) {
        const long got = body.read(buffer.data(), buffer.size());
        if (got < 0)
            return std::string("Incomplete upload");
        if (got == 0)
            break;
        if (!parser.feed(buffer.data(), static_cast<std::size_t>(got)))
            return m_failure.empty() ? parser.error() : m_failure;
    }
    if (!parser.finished())
        return std::string("Malformed multipart body: no closing boundary");
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    return std::nullopt;
}

bool UploadReceiver::partBegins(const MultipartPart &part)
{
    if (part.name == "file") {
        if (m_hasFile) {
            m_failure = "More than one file part";
            return false;
        }
        m_fd = ::open(m_content.tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            m_failure = std::string("Cannot store upload: ") + std::strerror(errno);
            return false;
        }
        m_hash = std::make_unique<Sha256>();
        m_hasFile = true;
        m_inFile = true;
        m_content.contentType = part.contentType;
        return true;
    }
    m_inFile = false;
    m_currentField = part.name;
    m_fields[m_currentField].clear();
    return true;
}

bool UploadReceiver::partData(const char *data, std::size_t size)
{
    if (m_inFile) {
        m_hash->update(data, size);
        m_content.fileSize += static_cast<int64_t>(size);
        if (!writeAll(m_fd, data, size)) {
            m_failure = std::string("Cannot store upload: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    std::string &value = m_fields[m_currentField];
    if (value.size() + size > maxFieldBytes) {
        m_failure = "Form field too large: " + m_currentField;
        return false;
    }
    value.append(data, size);
    return true;
}

bool UploadReceiver::partEnds()
{
    if (m_inFile) {
        m_content.fileHash = m_hash->hexDigest();
        m_inFile = false;
    }
    return true;
}

} // namespace devserver
