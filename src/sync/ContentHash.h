#pragma once

#include <QString>
#include <array>
#include <memory>

// A content hash as the client and the service write it: the SHA-256 of a
// file as 64 lowercase hex digits. Every tracked file and every known
// document holds one, so it is kept as its 32 bytes rather than as 64
// characters of text on the heap. Any other text (empty, or written
// otherwise by the service) is kept as it came: it is written back
// unchanged and equals only the same text.
class ContentHash {
public:
    ContentHash() = default;
    ContentHash(const QString &text); // implicit: hashes arrive as text
    ContentHash(const char *text) : ContentHash(QString::fromUtf8(text)) {}

    QString toString() const;
    bool isEmpty() const { return m_text && m_text->isEmpty(); }

    friend bool operator==(const ContentHash &a, const ContentHash &b);

private:
    std::array<unsigned char, 32> m_bytes{};
    // Null for a hash held as its bytes; otherwise the text as it came.
    std::shared_ptr<const QString> m_text = emptyText();

    static const std::shared_ptr<const QString> &emptyText();
};
