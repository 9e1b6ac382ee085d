#include "api/ContentHash.h"

namespace {

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1; // upper case too: such a hash is kept as text, as written
}

} // namespace

const QExplicitlySharedDataPointer<const ContentHash::Text> &ContentHash::emptyText()
{
    static const QExplicitlySharedDataPointer<const Text> empty(new Text(QString()));
    return empty;
}

ContentHash::ContentHash(const QString &text)
{
    if (text.size() == 2 * qsizetype(m_bytes.size())) {
        bool digits = true;
        for (std::size_t i = 0; i < m_bytes.size() && digits; ++i) {
            const int high = hexValue(text[2 * i].unicode());
            const int low = hexValue(text[2 * i + 1].unicode());
            digits = high >= 0 && low >= 0;
            if (digits)
                m_bytes[i] = static_cast<unsigned char>(high << 4 | low);
        }
        if (digits) {
            m_text.reset();
            return;
        }
        m_bytes = {};
    }
    m_text = text.isEmpty() ? emptyText() : QExplicitlySharedDataPointer<const Text>(new Text(text));
}

QString ContentHash::toString() const
{
    if (m_text)
        return m_text->text;
    static constexpr char digits[] = "0123456789abcdef";
    QString text(2 * qsizetype(m_bytes.size()), Qt::Uninitialized);
    QChar *out = text.data();
    for (const unsigned char byte : m_bytes) {
        *out++ = QLatin1Char(digits[byte >> 4]);
        *out++ = QLatin1Char(digits[byte & 0xF]);
    }
    return text;
}

bool operator==(const ContentHash &a, const ContentHash &b)
{
    if (a.m_text || b.m_text)
        return a.m_text && b.m_text && a.m_text->text == b.m_text->text;
    return a.m_bytes == b.m_bytes;
}
