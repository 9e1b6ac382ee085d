#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes a file of real bytes (no sparse hole) in 1 MiB blocks whose content
// changes from block to block, so that hashing and sending it cost what a
// real file of that size costs.
inline bool writeLargeFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray block(1024 * 1024, '\0');
    for (qint64 written = 0; written < bytes; written += block.size()) {
        for (int i = 0; i < block.size(); i += 4096)
            block[i] = char(written / block.size() + i);
        const qint64 n = qMin<qint64>(block.size(), bytes - written);
        if (file.write(block.constData(), n) != n)
            return false;
    }
    return true;
}
