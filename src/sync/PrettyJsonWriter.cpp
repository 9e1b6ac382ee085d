#include "sync/PrettyJsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

void PrettyJsonWriter::key(const QString &name)
{
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
    m_out.append(QByteArray::number(value));
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
    m_out.append(QByteArray(qsizetype(m_levels.size()) * 2, ' '));
}

void PrettyJsonWriter::appendEscaped(const QString &text)
{
    m_out.append('"');
    // Runs of plain characters are converted to UTF-8 whole, so that
    // surrogate pairs (characters outside the BMP) stay intact.
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) {
        if (end > runStart)
            m_out.append(QStringView(text).mid(runStart, end - runStart).toUtf8());
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text.at(i).unicode();
        const char *escape = nullptr;
        char control[8];
        switch (u) {
        case '"': escape = "\\\""; break;
        case '\\': escape = "\\\\"; break;
        case '/': escape = "\\/"; break;
        case '\b': escape = "\\b"; break;
        case '\f': escape = "\\f"; break;
        case '\n': escape = "\\n"; break;
        case '\r': escape = "\\r"; break;
        case '\t': escape = "\\t"; break;
        default:
            if (u < 0x20) {
                std::snprintf(control, sizeof control, "\\u%04x", unsigned(u));
                escape = control;
            }
        }
        if (!escape)
            continue;
        flushRun(i);
        m_out.append(escape);
        runStart = i + 1;
    }
    flushRun(text.size());
    m_out.append('"');
}
