#include "api/MultipartBodyDevice.h"

#include "api/Errors.h"

#include <QFileInfo>
#include <cstring>

namespace {

const QByteArray crlf("\r\n");

QByteArray textPart(const QByteArray &boundary, const char *name, const QByteArray &value)
{
    return "--" + boundary + crlf + "Content-Disposition: form-data; name=\"" + name + "\"" + crlf + crlf + value
        + crlf;
}

} // namespace

QByteArray MultipartBodyDevice::quoteFileName(const QString &fileName)
{
    const QByteArray utf8 = fileName.toUtf8();
    QByteArray quoted;
    quoted.reserve(utf8.size());
    for (const char byte : utf8) {
        switch (byte) {
        case '"': quoted += "%22"; break;
        case '\r': quoted += "%0D"; break;
        case '\n': quoted += "%0A"; break;
        default: quoted += byte;
        }
    }
    return quoted;
}

MultipartBodyDevice::MultipartBodyDevice(const QString &filePath, const Form &form, QObject *parent)
    : QIODevice(parent), m_file(filePath)
{
    const QFileInfo info(filePath);
    if (info.isDir())
        throw FileError(QStringLiteral("Cannot read %1: it is a folder").arg(filePath));
    if (!m_file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("Cannot read %1: %2").arg(filePath, m_file.errorString()));
    m_fileSize = m_file.size();

    const QByteArray boundary = form.boundary.toUtf8();
    m_head = "--" + boundary + crlf + "Content-Disposition: form-data; name=\"file\"; filename=\""
        + quoteFileName(form.fileName) + "\"" + crlf + "Content-Type: " + form.mimeType.toUtf8() + crlf + crlf;
    m_tail = crlf + textPart(boundary, "name", form.documentName.toUtf8())
        + textPart(boundary, "folder_id", QByteArray::number(form.folderId)) + "--" + boundary + "--" + crlf;

    // Unbuffered: the network layer keeps its own buffer; a second one here
    // would only copy the file twice.
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 MultipartBodyDevice::size() const
{
    return m_head.size() + m_fileSize + m_tail.size();
}

bool MultipartBodyDevice::seek(qint64 position)
{
    if (position < 0 || position > size() || !QIODevice::seek(position))
        return false;
    m_offset = position;
    return true;
}

qint64 MultipartBodyDevice::readData(char *data, qint64 maxSize)
{
    const qint64 fileEnd = m_head.size() + m_fileSize;
    qint64 done = 0;
    while (done < maxSize && m_offset < size()) {
        qint64 got = 0;
        if (m_offset < m_head.size()) {
            got = qMin(maxSize - done, m_head.size() - m_offset);
            std::memcpy(data + done, m_head.constData() + m_offset, size_t(got));
        } else if (m_offset < fileEnd) {
            const qint64 inFile = m_offset - m_head.size();
            if (m_file.pos() != inFile && !m_file.seek(inFile))
                got = -1;
            else
                got = m_file.read(data + done, qMin(maxSize - done, m_fileSize - inFile));
            if (got <= 0) {
                // The file got shorter (or unreadable) since the size was
                // taken: the announced length can no longer be met, so the
                // upload must fail rather than send a different body.
                setErrorString(QStringLiteral("Cannot read %1: the file changed while it was being sent")
                                   .arg(m_file.fileName()));
                return done > 0 ? done : -1;
            }
        } else {
            const qint64 inTail = m_offset - fileEnd;
            got = qMin(maxSize - done, m_tail.size() - inTail);
            std::memcpy(data + done, m_tail.constData() + inTail, size_t(got));
        }
        done += got;
        m_offset += got;
    }
    return done;
}

qint64 MultipartBodyDevice::writeData(const char *, qint64)
{
    return -1;
}
