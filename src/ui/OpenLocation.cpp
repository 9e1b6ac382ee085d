#include "ui/OpenLocation.h"

#include "platform/Logging.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

QString locationToOpen(const QString &filePath)
{
    if (filePath.isEmpty())
        return {};
    QFileInfo info(filePath);
    if (info.exists())
        return info.absoluteFilePath();
    // A file deleted or moved since its transfer: show where it was, or the
    // closest folder that is left (the watched folder itself may be gone).
    QString folder = QDir::cleanPath(info.absolutePath());
    while (!QFileInfo(folder).isDir()) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            return {};
        folder = parent;
    }
    return folder;
}

bool openLocation(const QString &path)
{
    if (path.isEmpty())
        return false;
    const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    if (!opened)
        qCWarning(lcApp).noquote() << "The desktop could not open" << path;
    return opened;
}
