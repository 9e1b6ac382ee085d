#include "platform/Bookmarks.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

std::optional<FolderIdentity> identityOf(const QString &path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return FolderIdentity{qint64(info.st_dev), qint64(info.st_ino)};
}

// The folder opened once, so that its identity and its mark are read from
// the same folder.
class OpenFolder {
public:
    explicit OpenFolder(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
    }
    ~OpenFolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;

    std::optional<FolderIdentity> identity() const
    {
        struct stat info {};
        if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
            return std::nullopt;
        return FolderIdentity{qint64(info.st_dev), qint64(info.st_ino)};
    }
    // nullopt when it cannot be told (unreadable attributes, or an empty
    // one that is not ours); an empty string when the file system keeps
    // user attributes and this folder has none.
    std::optional<QString> mark() const
    {
        char value[128];
        const ssize_t length = m_fd < 0 ? -1 : ::fgetxattr(m_fd, Bookmarks::markAttribute, value, sizeof value);
        if (length > 0)
            return QString::fromLatin1(value, int(length));
        if (length < 0 && errno == ENODATA)
            return QString();
        return std::nullopt;
    }
    bool setMark(const QString &mark) const
    {
        const QByteArray value = mark.toLatin1();
        return m_fd >= 0 && ::fsetxattr(m_fd, Bookmarks::markAttribute, value.constData(), value.size(), 0) == 0;
    }

private:
    int m_fd;
};

// The mark on the folder at `path`, read only while it is the folder of
// `identity`, so that a folder swapped in meanwhile is not read: nullopt
// when that cannot be told.
std::optional<QString> markAt(const QString &path, const FolderIdentity &identity)
{
    const OpenFolder folder(path);
    if (folder.identity() != identity)
        return std::nullopt;
    return folder.mark();
}

} // namespace

namespace Bookmarks {

std::optional<QByteArray> create(const QString &folderPath, const QString &mark)
{
    const QString path = QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath());
    const OpenFolder folder(path);
    const auto identity = folder.identity();
    if (!identity)
        return std::nullopt;
    QString recorded = mark;
    bool marked = false;
    if (recorded.isEmpty()) {
        recorded = QUuid::createUuid().toString(QUuid::WithoutBraces);
        // A file system without user attributes (or a folder not ours to
        // mark) keeps the mark in the bookmark alone: such a folder is then
        // known by its device and inode only.
        marked = folder.setMark(recorded);
    } else {
        marked = folder.mark() == recorded;
    }
    QJsonObject object{
        {QStringLiteral("path"), path},
        {QStringLiteral("device"), identity->device},
        {QStringLiteral("inode"), identity->inode},
        {QStringLiteral("mark"), recorded},
    };
    if (marked)
        object.insert(QStringLiteral("marked"), true);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Resolved> read(const QByteArray &bookmark)
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
    // A file system path holds no NUL; one that did would be cut there by
    // every system call and name another folder.
    if (path.toString().contains(QChar(u'\0')))
        return std::nullopt;

    Resolved resolved;
    resolved.path = path.toString();
    resolved.identity = FolderIdentity{device.toInteger(), inode.toInteger()};
    resolved.current = resolved.identity;
    // Optional: bookmarks made before marks were kept have none.
    resolved.mark = object.value(QStringLiteral("mark")).toString();
    resolved.markedOnFolder = !resolved.mark.isEmpty() && object.value(QStringLiteral("marked")).toBool();
    return resolved;
}

std::optional<Resolved> resolve(const QByteArray &bookmark)
{
    std::optional<Resolved> resolved = read(bookmark);
    if (!resolved)
        return std::nullopt;
    const auto current = identityOf(resolved->path);
    if (!current)
        return std::nullopt;
    resolved->current = *current;
    resolved->isStale = !isChosenFolder(*resolved, *current);
    return resolved;
}

bool isChosenFolder(const Resolved &recorded, const FolderIdentity &current)
{
    if (current == recorded.identity) {
        // Another mark (the folder chosen again elsewhere, by another user
        // of a shared folder) still leaves it the same folder; only a folder
        // that lost every mark is a new file system.
        if (!recorded.markedOnFolder)
            return true;
        const auto mark = markAt(recorded.path, current);
        return !mark || !mark->isEmpty();
    }
    return !recorded.mark.isEmpty() && markAt(recorded.path, current) == recorded.mark;
}

QString markOf(const QString &folderPath, const FolderIdentity &identity)
{
    return markAt(folderPath, identity).value_or(QString());
}

} // namespace Bookmarks
