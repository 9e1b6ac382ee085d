#include "platform/FolderAccess.h"

#include "platform/FolderAccessDetail.h"
#include "platform/FileHash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using descriptors::cannot;
using descriptors::UniqueFd;

using folderdetail::isPlainName;
using folderdetail::maxNameBytes;

namespace folderdetail {

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString shortened(QString name, qsizetype maxBytes)
{
    while (!name.isEmpty() && QFile::encodeName(name).size() > maxBytes)
        name.chop(name.size() >= 2 && name.back().isLowSurrogate() ? 2 : 1);
    return name;
}

FileFacts factsFrom(const struct stat &st)
{
    FileFacts facts;
    facts.exists = true;
    facts.isRegularFile = S_ISREG(st.st_mode);
    facts.isSymbolicLink = S_ISLNK(st.st_mode);
    facts.size = st.st_size;
    facts.device = st.st_dev;
    facts.inode = st.st_ino;
    facts.permissions = st.st_mode & 07777;
    facts.modifiedNs = descriptors::nanoseconds(st.st_mtim);
    facts.changedNs = descriptors::nanoseconds(st.st_ctim);
    return facts;
}

} // namespace folderdetail

bool FileFacts::isSameVersion(const FileFacts &other) const
{
    return exists && other.exists && device == other.device && inode == other.inode && size == other.size
        && modifiedNs == other.modifiedNs && changedNs == other.changedNs;
}

void FolderAccess::Parent::requireFolder() const
{
    if (fd < 0)
        throw FileError(cannot(QStringLiteral("Cannot reach"), shown, ENOENT));
}

FolderAccess::FolderAccess(const QString &folderPath)
    : m_path(QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath()))
{
    // The folder itself may be reached through a link the user chose.
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        throw FileError(cannot(QStringLiteral("Cannot open the folder"), m_path, errno));
    struct stat st;
    if (::fstat(m_fd, &st) != 0) {
        const int error = errno;
        ::close(m_fd);
        throw FileError(cannot(QStringLiteral("Cannot open the folder"), m_path, error));
    }
    m_identity = FolderIdentity{qint64(st.st_dev), qint64(st.st_ino)};
}

FolderAccess::~FolderAccess()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FolderAccess::FolderAccess(FolderAccess &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)), m_identity(other.m_identity)
{
}

FolderAccess &FolderAccess::operator=(FolderAccess &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
        m_identity = other.m_identity;
    }
    return *this;
}

std::optional<QString> FolderAccess::relativePathOf(const QString &absolutePath) const
{
    const QString clean = QDir::cleanPath(absolutePath);
    const QString prefix = m_path.endsWith(QLatin1Char('/')) ? m_path : m_path + QLatin1Char('/');
    if (!clean.startsWith(prefix) || clean.size() == prefix.size())
        return std::nullopt;
    return clean.mid(prefix.size());
}

QString FolderAccess::absolutePathOf(const QString &relativePath) const
{
    return m_path.endsWith(QLatin1Char('/')) ? m_path + relativePath : m_path + QLatin1Char('/') + relativePath;
}

FolderAccess::Parent FolderAccess::openParent(const QString &relativePath) const
{
    const QStringList parts = relativePath.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (!isPlainName(part))
            throw FileError(QStringLiteral("\"%1\" is not a path inside %2").arg(relativePath, m_path));
    }

    Parent parent;
    parent.fd = m_fd;
    parent.name = QFile::encodeName(parts.back());
    parent.shown = absolutePathOf(relativePath);
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        // O_PATH: a folder only passed through needs no read permission.
        const int fd = ::openat(parent.fd, QFile::encodeName(parts[i]).constData(),
                                O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            const QString step = absolutePathOf(parts.mid(0, i + 1).join(QLatin1Char('/')));
            if (error == ENOENT) {
                parent.owned.reset();
                parent.fd = -1;
                return parent;
            }
            if (error == ELOOP || error == ENOTDIR)
                throw CrossesLinkError(
                    QStringLiteral("Cannot reach %1: %2 is a symbolic link or not a folder").arg(parent.shown, step));
            throw FileError(cannot(QStringLiteral("Cannot reach"), parent.shown, error));
        }
        parent.owned = UniqueFd(fd);
        parent.fd = fd;
    }
    return parent;
}

FileFacts FolderAccess::facts(const QString &relativePath) const
{
    const Parent parent = openParent(relativePath);
    FileFacts facts;
    if (parent.fd < 0)
        return facts;
    struct stat st;
    if (::fstatat(parent.fd, parent.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return facts;
        throw FileError(cannot(QStringLiteral("Cannot examine"), parent.shown, errno));
    }
    return folderdetail::factsFrom(st);
}

QString FolderAccess::hash(const QString &relativePath) const
{
    const Parent parent = openParent(relativePath);
    parent.requireFolder();
    const UniqueFd file(FileHash::openRegularFile(parent.fd, parent.name, parent.shown));
    return FileHash::sha256Of(file.get(), parent.shown);
}

FolderAccess::OpenedFile FolderAccess::openForReading(const QString &relativePath) const
{
    const Parent parent = openParent(relativePath);
    parent.requireFolder();
    UniqueFd fd(FileHash::openRegularFile(parent.fd, parent.name, parent.shown));
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        throw FileError(cannot(QStringLiteral("Cannot read"), parent.shown, errno));
    auto file = std::make_shared<QFile>();
    if (!file->open(fd.get(), QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        throw FileError(QStringLiteral("Cannot read %1: %2").arg(parent.shown, file->errorString()));
    fd.release();
    return {std::move(file), folderdetail::factsFrom(st)};
}

int FolderAccess::openForListing() const
{
    // A description of its own: a duplicate would share the read position
    // with every other listing of the folder.
    return ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool FolderAccess::moveAside(const QString &relativePath, const QString &newName) const
{
    if (!isPlainName(newName))
        throw FileError(QStringLiteral("\"%1\" is not a file name").arg(newName));
    const Parent parent = openParent(relativePath);
    parent.requireFolder();
    struct stat st;
    if (::fstatat(parent.fd, parent.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        throw FileError(cannot(QStringLiteral("Cannot rename"), parent.shown, errno));
    if (S_ISLNK(st.st_mode))
        throw CrossesLinkError(QStringLiteral("Cannot rename %1: it is a symbolic link").arg(parent.shown));
    if (!S_ISREG(st.st_mode))
        throw FileError(QStringLiteral("Cannot rename %1: not a regular file").arg(parent.shown));
    if (descriptors::renameNoReplace(parent.fd, parent.name.constData(), parent.fd,
                                     QFile::encodeName(newName).constData())
        == 0)
        return true;
    if (errno == EEXIST)
        return false;
    throw FileError(cannot(QStringLiteral("Cannot rename"), parent.shown, errno));
}

QString conflictCopyName(const QString &fileName, const QDateTime &when, int number)
{
    QString stamp = when.toString(QStringLiteral("yyyy-MM-dd HHmmss"));
    if (number > 1)
        stamp += QLatin1Char(' ') + QString::number(number);
    const QString tag = QStringLiteral(" (conflicted copy %1)").arg(stamp);
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    QString stem = dot > 0 ? fileName.left(dot) : fileName;
    QString extension = dot > 0 ? fileName.mid(dot) : QString();
    const qsizetype tagBytes = QFile::encodeName(tag).size();
    if (QFile::encodeName(extension).size() + tagBytes >= maxNameBytes) {
        // An "extension" this long is no extension at all.
        stem = fileName;
        extension.clear();
    }
    stem = folderdetail::shortened(stem, maxNameBytes - tagBytes - QFile::encodeName(extension).size());
    return stem + tag + extension;
}
