#include "sync/PrettyJsonWriter.h"

#include <charconv>
#include <cmath>

void PrettyJsonWriter::beginObject()
{
    beforeValue();
    m_out.append('{');
    m_levels.push_back({true, true});
}

void PrettyJsonWriter::endObject()
{
    const bool empty = m_levels.back().empty;
    m_levels.pop_back();
    if (!empty)
        newlineAndIndent();
    m_out.append('}');
}

void PrettyJsonWriter::beginArray()
{
    beforeValue();
    m_out.append('[');
    m_levels.push_back({false, true});
}

void PrettyJsonWriter::endArray()
{
    const bool empty = m_levels.back().empty;
    m_levels.pop_back();
    if (!empty)
        newlineAndIndent();
    m_out.append(']');
}

void PrettyJsonWriter::drainIfFull()
{
    constexpr qsizetype bufferBytes = 1 << 20;
    if (m_sink && m_out.size() >= bufferBytes)
        finish();
}

bool PrettyJsonWriter::finish()
{
    if (m_sink && !m_out.isEmpty()) {
        m_sinkFailed = m_sinkFailed || m_sink->write(m_out) != m_out.size();
        m_out.truncate(0);
    }
    return !m_sinkFailed;
}

void PrettyJsonWriter::key(const QString &name)
{
    drainIfFull();
    Level &level = m_levels.back();
    if (!level.empty)
        m_out.append(',');
    level.empty = false;
    newlineAndIndent();
    appendEscaped(name);
    m_out.append(" : ");
    m_afterKey = true;
}

void PrettyJsonWriter::string(const QString &value)
{
    beforeValue();
    appendEscaped(value);
}

void PrettyJsonWriter::integer(qint64 value)
{
    beforeValue();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    m_out.append(buffer, result.ptr - buffer);
}

bool PrettyJsonWriter::number(double value)
{
    if (!std::isfinite(value))
        return false;
    beforeValue();
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    m_out.append(buffer, result.ptr - buffer);
    return true;
}

void PrettyJsonWriter::beforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (m_levels.empty())
        return;
    Level &level = m_levels.back();
    if (!level.empty)
        m_out.append(',');
    level.empty = false;
    newlineAndIndent();
}

void PrettyJsonWriter::newlineAndIndent()
{
    m_out.append('\n');
    m_out.append(qsizetype(m_levels.size()) * 2, ' ');
}

// The state file is mostly paths and hex digests: plain ASCII with a few
// slashes. Characters are written straight into the output's spare room,
// without a UTF-8 copy of the text or an append per character.
void PrettyJsonWriter::appendEscaped(const QString &text)
{
    const qsizetype start = m_out.size();
    // At most six bytes per UTF-16 unit ("\u001f"), plus the quotes.
    m_out.resize(start + text.size() * 6 + 2);
    char *out = m_out.data() + start;
    *out++ = '"';
    const char16_t *in = reinterpret_cast<const char16_t *>(text.constData());
    const char16_t *const end = in + text.size();
    static const char hex[] = "0123456789abcdef";
    while (in < end) {
        const char16_t u = *in++;
        if (u >= 0x20 && u < 0x80) {
            if (u == '"' || u == '\\' || u == '/')
                *out++ = '\\';
            *out++ = char(u);
        } else if (u < 0x20) {
            *out++ = '\\';
            switch (u) {
            case '\b': *out++ = 'b'; break;
            case '\f': *out++ = 'f'; break;
            case '\n': *out++ = 'n'; break;
            case '\r': *out++ = 'r'; break;
            case '\t': *out++ = 't'; break;
            default:
                *out++ = 'u';
                *out++ = '0';
                *out++ = '0';
                *out++ = hex[u >> 4];
                *out++ = hex[u & 0xf];
            }
        } else if (u < 0x800) {
            *out++ = char(0xc0 | (u >> 6));
            *out++ = char(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && in < end && QChar::isLowSurrogate(*in)) {
            const char32_t c = QChar::surrogateToUcs4(u, *in++);
            *out++ = char(0xf0 | (c >> 18));
            *out++ = char(0x80 | ((c >> 12) & 0x3f));
            *out++ = char(0x80 | ((c >> 6) & 0x3f));
            *out++ = char(0x80 | (c & 0x3f));
        } else if (QChar::isSurrogate(u)) {
            // A lone surrogate has no UTF-8 form; Qt's conversion, which
            // earlier files were written with, puts a question mark.
            *out++ = '?';
        } else {
            *out++ = char(0xe0 | (u >> 12));
            *out++ = char(0x80 | ((u >> 6) & 0x3f));
            *out++ = char(0x80 | (u & 0x3f));
        }
    }
    *out++ = '"';
    m_out.truncate(out - m_out.constData());
}
