#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace devserver {

struct MultipartPart {
    std::string name;
    std::optional<std::string> filename;
    std::string contentType;
};

// Parses a multipart/form-data body as it streams in, in pieces of any size:
// a delimiter split across two reads is still found, and part contents are
// handed on without being collected.
class MultipartParser {
public:
    struct Callbacks {
        std::function<bool(const MultipartPart &)> partBegins;
        std::function<bool(const char *, std::size_t)> partData;
        std::function<bool()> partEnds;
    };

    MultipartParser(const std::string &boundary, Callbacks callbacks);

    // False once the body is malformed or a callback refused; see error().
    bool feed(const char *data, std::size_t size);
    // True once the closing delimiter has been seen.
    bool finished() const { return m_state == State::Done; }
    const std::string &error() const { return m_error; }

    // The boundary parameter of a multipart/form-data Content-Type, if any.
    static std::optional<std::string> boundaryFrom(const std::string &contentType);

private:
    enum class State { Preamble, AfterDelimiter, Headers, Data, Done, Failed };

    bool step();
    bool fail(const std::string &message);
    bool beginPart(const std::string &headerBlock);

    std::string m_delimiter; // CRLF "--" boundary
    Callbacks m_callbacks;
    State m_state = State::Preamble;
    std::string m_pending;
    std::size_t m_padding = 0; // blanks seen after the last delimiter
    std::string m_error;
};

} // namespace devserver
