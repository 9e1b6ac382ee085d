#include "platform/FolderAccess.h"

#include "platform/FolderAccessDetail.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>

using descriptors::cannot;
using descriptors::UniqueFd;

void FolderAccess::makeFolders(const QString &relativeFolder) const
{
    if (relativeFolder.isEmpty())
        return;
    const QStringList parts = relativeFolder.split(QLatin1Char('/'));
    UniqueFd owned;
    int at = m_fd;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (!folderdetail::isPlainName(parts[i]))
            throw FileError(QStringLiteral("\"%1\" is not a path inside %2").arg(relativeFolder, m_path));
        const QByteArray name = QFile::encodeName(parts[i]);
        const QString shown = absolutePathOf(parts.mid(0, i + 1).join(QLatin1Char('/')));
        // Someone else may make it at the same moment: that is as good.
        if (::mkdirat(at, name.constData(), 0777) != 0 && errno != EEXIST)
            throw FileError(cannot(QStringLiteral("Cannot make the folder"), shown, errno));
        const int fd = ::openat(at, name.constData(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ELOOP || errno == ENOTDIR)
                throw CrossesLinkError(QStringLiteral("Cannot make the folder %1: something else is there").arg(shown));
            throw FileError(cannot(QStringLiteral("Cannot reach"), shown, errno));
        }
        owned = UniqueFd(fd);
        at = fd;
    }
}
