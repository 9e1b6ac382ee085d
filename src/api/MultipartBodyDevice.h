#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>

struct evp_md_ctx_st;

// The upload form as a readable, seekable device of known size: the form's
// text pieces are held in memory, the file's bytes are read from disk as the
// network asks for them, so a file of any size costs only a small buffer.
//
// Layout: "--B" CRLF, the file part's headers, the file, CRLF, the "name"
// part, the "folder_id" part, "--B--" CRLF.
class MultipartBodyDevice : public QIODevice {
    Q_OBJECT
public:
    struct Form {
        QString boundary;
        QString fileName;     // written into the filename parameter, see quoteFileName
        QString mimeType;
        QString documentName; // the "name" part, unchanged
        qint64 folderId = 0;
    };

    // Reads the file's bytes from `file`, open for reading and seekable (the
    // caller opened it and checked what it is); its size is taken now.
    // Opens the device itself (read-only).
    MultipartBodyDevice(std::shared_ptr<QIODevice> file, const Form &form, QObject *parent = nullptr);

    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 position) override;

    qint64 fileSize() const { return m_fileSize; }

    // SHA-256 (lower-case hex) of the file's bytes as they were read out,
    // taken on the way so that the file is read once. Empty unless the
    // whole file went out in order since the last rewind to the start (a
    // resend after a redirect or a dropped connection rewinds and starts
    // the hash again).
    QString sentFileHash() const;

    // The filename parameter's value: UTF-8, with the three bytes that
    // would end the quoted text or the header line written as %22, %0D and
    // %0A; every other byte as it is.
    static QByteArray quoteFileName(const QString &fileName);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    std::shared_ptr<QIODevice> m_file;
    QString m_fileName; // for messages
    qint64 m_fileSize = 0;
    QByteArray m_head;
    QByteArray m_tail;
    qint64 m_offset = 0; // where the next readData starts, in the whole body

    void restartHash();
    void hashFileBytes(qint64 inFile, const char *data, qint64 size);
    struct HashContextFree {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, HashContextFree> m_hash;
    qint64 m_hashedUpTo = 0; // file bytes hashed, in order, from the start
    bool m_hashBroken = false; // bytes went out of order since the last rewind
    mutable QString m_sentHash;
};
