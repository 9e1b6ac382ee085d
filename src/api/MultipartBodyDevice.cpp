#include "api/MultipartBodyDevice.h"

#include "api/Errors.h"

#include <cstring>
#include <openssl/evp.h>

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

MultipartBodyDevice::MultipartBodyDevice(std::shared_ptr<QIODevice> file, const Form &form, QObject *parent)
    : QIODevice(parent), m_file(std::move(file)), m_fileName(form.fileName)
{
    if (!m_file || !m_file->isOpen() || !m_file->isReadable() || m_file->isSequential())
        throw FileError(QStringLiteral("Cannot read %1: not an open file").arg(m_fileName));
    m_fileSize = m_file->size();

    const QByteArray boundary = form.boundary.toUtf8();
    m_head = "--" + boundary + crlf + "Content-Disposition: form-data; name=\"file\"; filename=\""
        + quoteFileName(form.fileName) + "\"" + crlf + "Content-Type: " + form.mimeType.toUtf8() + crlf + crlf;
    m_tail = crlf + textPart(boundary, "name", form.documentName.toUtf8())
        + textPart(boundary, "folder_id", QByteArray::number(form.folderId)) + "--" + boundary + "--" + crlf;

    m_hash.reset(EVP_MD_CTX_new());
    restartHash();

    // Unbuffered: the network layer keeps its own buffer; a second one here
    // would only copy the file twice.
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void MultipartBodyDevice::HashContextFree::operator()(evp_md_ctx_st *context) const
{
    EVP_MD_CTX_free(context);
}

void MultipartBodyDevice::restartHash()
{
    m_hashedUpTo = 0;
    m_sentHash.clear();
    m_hashBroken = !m_hash || EVP_DigestInit_ex(m_hash.get(), EVP_sha256(), nullptr) != 1;
}

void MultipartBodyDevice::hashFileBytes(qint64 inFile, const char *data, qint64 size)
{
    if (m_hashBroken)
        return;
    // Bytes read again after a seek into the middle of the file may differ
    // from the ones hashed the first time: no hash rather than a wrong one.
    if (inFile != m_hashedUpTo || EVP_DigestUpdate(m_hash.get(), data, size_t(size)) != 1) {
        m_hashBroken = true;
        return;
    }
    m_hashedUpTo += size;
}

QString MultipartBodyDevice::sentFileHash() const
{
    if (m_hashBroken || m_hashedUpTo != m_fileSize)
        return {};
    if (m_sentHash.isEmpty()) {
        // Finish a copy, so that asking twice gives the same answer.
        const std::unique_ptr<EVP_MD_CTX, HashContextFree> copy(EVP_MD_CTX_new());
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!copy || EVP_MD_CTX_copy_ex(copy.get(), m_hash.get()) != 1
            || EVP_DigestFinal_ex(copy.get(), digest, &length) != 1)
            return {};
        m_sentHash = QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
    }
    return m_sentHash;
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
    // A rewind to before the file's bytes sends them all again.
    if (position <= m_head.size())
        restartHash();
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
            if (m_file->pos() != inFile && !m_file->seek(inFile))
                got = -1;
            else
                got = m_file->read(data + done, qMin(maxSize - done, m_fileSize - inFile));
            if (got <= 0) {
                // The file got shorter (or unreadable) since the size was
                // taken: the announced length can no longer be met, so the
                // upload must fail rather than send a different body.
                setErrorString(QStringLiteral("Cannot read %1: the file changed while it was being sent")
                                   .arg(m_fileName));
                return done > 0 ? done : -1;
            }
            hashFileBytes(inFile, data + done, got);
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
