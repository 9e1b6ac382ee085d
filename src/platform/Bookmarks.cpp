#include "platform/Bookmarks.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace {

std::optional<FolderIdentity> identityOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return FolderIdentity{qint64(info.st_dev), qint64(info.st_ino)};
}

} // namespace

namespace Bookmarks {

std::optional<QByteArray> create(const QString &folderPath)
{
    const QString path = QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath());
    const auto identity = identityOf(path);
    if (!identity)
        return std::nullopt;
    const QJsonObject object{
        {QStringLiteral("path"), path},
        {QStringLiteral("device"), identity->device},
        {QStringLiteral("inode"), identity->inode},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Resolved> resolve(const QByteArray &bookmark)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bookmark, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue path = object.value(QStringLiteral("path"));
    const QJsonValue device = object.value(QStringLiteral("device"));
    const QJsonValue inode = object.value(QStringLiteral("inode"));
    if (!path.isString() || !device.isDouble() || !inode.isDouble())
        return std::nullopt;
    // Only absolute paths are ever written; anything else was not made here.
    if (!QDir::isAbsolutePath(path.toString()))
        return std::nullopt;

    const auto current = identityOf(path.toString());
    if (!current)
        return std::nullopt;
    Resolved resolved;
    resolved.path = path.toString();
    resolved.identity = FolderIdentity{device.toInteger(), inode.toInteger()};
    resolved.isStale = *current != resolved.identity;
    return resolved;
}

} // namespace Bookmarks
