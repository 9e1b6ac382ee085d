#pragma once

#include <QSharedData>
#include <QString>
#include <array>

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
    bool isEmpty() const { return m_text && m_text->text.isEmpty(); }

    friend bool operator==(const ContentHash &a, const ContentHash &b);

private:
    std::array<unsigned char, 32> m_bytes{};
    // Shared, and one pointer wide: a hash is copied into every plan and
    // answer that names its file.
    struct Text : QSharedData {
        explicit Text(const QString &text) : text(text) {}
        QString text;
    };
    // Null for a hash held as its bytes; otherwise the text as it came.
    QExplicitlySharedDataPointer<const Text> m_text = emptyText();

    static const QExplicitlySharedDataPointer<const Text> &emptyText();
};
