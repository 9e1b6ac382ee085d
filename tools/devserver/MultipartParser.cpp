#include "MultipartParser.h"

#include "Text.h"

#include <algorithm>
#include <cctype>
#include <functional>

namespace devserver {

namespace {

constexpr std::size_t maxHeaderBlock = 16 * 1024;
constexpr std::size_t maxPadding = 1024;

// The quoted `name` parameter, not the tail of "filename".
std::optional<std::string> fieldName(const std::string &disposition)
{
    for (auto at = disposition.find("name=\""); at != std::string::npos; at = disposition.find("name=\"", at + 1)) {
        if (at > 0 && disposition[at - 1] != ' ' && disposition[at - 1] != ';')
            continue;
        const auto begin = at + 6;
        const auto end = disposition.find('"', begin);
        if (end == std::string::npos)
            return std::nullopt;
        return disposition.substr(begin, end - begin);
    }
    return std::nullopt;
}

// Clients put the file name between quotes without escaping quotes inside
// it, so the value runs to the last quote of the header.
std::optional<std::string> fileName(const std::string &disposition)
{
    const auto at = disposition.find("filename=\"");
    if (at == std::string::npos)
        return std::nullopt;
    const auto begin = at + 10;
    const auto end = disposition.rfind('"');
    if (end == std::string::npos || end < begin)
        return std::nullopt;
    return disposition.substr(begin, end - begin);
}

} // namespace

MultipartParser::MultipartParser(const std::string &boundary, Callbacks callbacks)
    : m_delimiter("\r\n--" + boundary), m_callbacks(std::move(callbacks)),
      // The first delimiter has no line break before it; pretending one
      // makes every delimiter look the same.
      m_pending("\r\n")
{
}

std::optional<std::string> MultipartParser::boundaryFrom(const std::string &contentType)
{
    const std::string lower = lowered(contentType);
    if (lower.rfind("multipart/form-data", 0) != 0)
        return std::nullopt;
    const auto at = lower.find("boundary=");
    if (at == std::string::npos)
        return std::nullopt;
    std::string boundary = contentType.substr(at + 9);
    if (!boundary.empty() && boundary.front() == '"') {
        const auto end = boundary.find('"', 1);
        if (end == std::string::npos)
            return std::nullopt;
        boundary = boundary.substr(1, end - 1);
    } else {
        boundary = trimmed(boundary.substr(0, boundary.find(';')));
    }
    if (boundary.empty() || boundary.size() > 200)
        return std::nullopt;
    return boundary;
}

bool MultipartParser::fail(const std::string &message)
{
    m_state = State::Failed;
    m_error = message;
    m_pending.clear();
    return false;
}

bool MultipartParser::feed(const char *data, std::size_t size)
{
    if (m_state == State::Failed)
        return false;
    if (m_state == State::Done)
        return true; // the epilogue is ignored
    m_pending.append(data, size);
    while (step()) {
    }
    return m_state != State::Failed;
}

// Makes one transition if the pending bytes allow it; false when more input
// is needed (or parsing has ended).
bool MultipartParser::step()
{
    switch (m_state) {
    case State::Preamble: {
        const auto at = m_pending.find(m_delimiter);
        if (at == std::string::npos) {
            if (m_pending.size() >= m_delimiter.size())
                m_pending.erase(0, m_pending.size() - (m_delimiter.size() - 1));
            return false;
        }
        m_pending.erase(0, at + m_delimiter.size());
        m_state = State::AfterDelimiter;
        return true;
    }
    case State::AfterDelimiter: {
        // Transport padding (blanks) may follow a delimiter. It is dropped as
        // it comes, so that each byte is looked at once, and there is a
        // limit to it: no client pads a line with more than a few.
        const std::size_t blanks = std::min(m_pending.find_first_not_of(" \t"), m_pending.size());
        m_pending.erase(0, blanks);
        m_padding += blanks;
        if (m_padding > maxPadding)
            return fail("Malformed multipart body: too many blanks after a delimiter");
        if (m_pending.size() < 2)
            return false;
        const std::string mark = m_pending.substr(0, 2);
        if (mark == "--") {
            m_pending.clear();
            m_state = State::Done;
            return false;
        }
        if (mark != "\r\n")
            return fail("Malformed multipart body");
        m_pending.erase(0, 2);
        m_padding = 0;
        m_state = State::Headers;
        return true;
    }
    case State::Headers: {
        std::size_t end;
        std::size_t skip;
        if (m_pending.rfind("\r\n", 0) == 0) {
            end = 0;
            skip = 2;
        } else {
            end = m_pending.find("\r\n\r\n");
            skip = 4;
        }
        // The same limit whether the block's end has arrived or not, so that
        // a body reads the same however it is split.
        if (end == std::string::npos ? m_pending.size() > maxHeaderBlock : end > maxHeaderBlock)
            return fail("Multipart part headers too large");
        if (end == std::string::npos)
            return false;
        const std::string block = m_pending.substr(0, end);
        m_pending.erase(0, end + skip);
        if (!beginPart(block))
            return false;
        m_state = State::Data;
        return true;
    }
    case State::Data: {
        const auto searcher = std::boyer_moore_horspool_searcher(m_delimiter.begin(), m_delimiter.end());
        const auto found = std::search(m_pending.begin(), m_pending.end(), searcher);
        if (found == m_pending.end()) {
            // Keep a tail that may be the start of a delimiter split across reads.
            const std::size_t keep = std::min(m_pending.size(), m_delimiter.size() - 1);
            const std::size_t ready = m_pending.size() - keep;
            if (ready > 0) {
                if (!m_callbacks.partData(m_pending.data(), ready))
                    return fail("Upload rejected");
                m_pending.erase(0, ready);
            }
            return false;
        }
        const std::size_t at = static_cast<std::size_t>(found - m_pending.begin());
        if (at > 0 && !m_callbacks.partData(m_pending.data(), at))
            return fail("Upload rejected");
        if (!m_callbacks.partEnds())
            return fail("Upload rejected");
        m_pending.erase(0, at + m_delimiter.size());
        m_state = State::AfterDelimiter;
        return true;
    }
    case State::Done:
    case State::Failed:
        return false;
    }
    return false;
}

bool MultipartParser::beginPart(const std::string &headerBlock)
{
    MultipartPart part;
    bool named = false;
    std::size_t position = 0;
    while (position < headerBlock.size()) {
        auto end = headerBlock.find("\r\n", position);
        if (end == std::string::npos)
            end = headerBlock.size();
        const std::string line = headerBlock.substr(position, end - position);
        position = end + 2;
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            return fail("Malformed multipart part header");
        const std::string name = lowered(trimmed(line.substr(0, colon)));
        const std::string value = trimmed(line.substr(colon + 1));
        if (name == "content-disposition") {
            if (auto field = fieldName(value)) {
                part.name = *field;
                named = true;
            }
            part.filename = fileName(value);
        } else if (name == "content-type") {
            part.contentType = value;
        }
    }
    if (!named)
        return fail("Multipart part without a name");
    if (!m_callbacks.partBegins(part))
        return fail("Upload rejected");
    return true;
}

} // namespace devserver
