#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <vector>

// Writes JSON in the form the state file has always had: two-space indent,
// " : " between a member's name and value, forward slashes escaped as "\/".
// The caller adds members in the order it wants them in the file.
class PrettyJsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();

    // Names the next value inside an object.
    void key(const QString &name);
    void string(const QString &value);
    void integer(qint64 value);
    // Shortest text that reads back as the same double; false for NaN or
    // infinity, which JSON cannot hold.
    bool number(double value);

    const QByteArray &bytes() const { return m_out; }
    // From here on the output goes to `sink` a buffer's worth at a time, as
    // it is written (bytes() then holds only what is not written yet), so a
    // large document is never held whole.
    void streamTo(QIODevice *sink) { m_sink = sink; }
    // Writes what is left to the sink; false when a write to it failed.
    bool finish();
    // Room for about this many bytes, to spare the output's regrowth.
    void reserve(qsizetype bytes) { m_out.reserve(bytes); }

private:
    void drainIfFull();
    void beforeValue();
    void newlineAndIndent();
    void appendEscaped(const QString &text);

    struct Level {
        bool isObject = false;
        bool empty = true;
    };
    QByteArray m_out;
    QIODevice *m_sink = nullptr;
    bool m_sinkFailed = false;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};
