#include "ui/OpenLocation.h"

#include "platform/Logging.h"

#include <QCoreApplication>
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

namespace {
std::function<void(const QString &)> &failureHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

bool failed(const QString &text)
{
    qCWarning(lcApp).noquote() << text;
    if (failureHandler())
        failureHandler()(text);
    return false;
}
} // namespace

void setOpenFailureHandler(std::function<void(const QString &text)> handler)
{
    failureHandler() = std::move(handler);
}

bool openLocation(const QString &path)
{
    if (path.isEmpty())
        return failed(QCoreApplication::translate("OpenLocation", "Could not open the file: where it is is not known."));
    if (!QFileInfo::exists(path))
        return failed(QCoreApplication::translate("OpenLocation", "Could not open %1: it no longer exists.").arg(path));
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path)))
        return failed(QCoreApplication::translate("OpenLocation", "Could not open %1: the desktop has no application for it.").arg(path));
    return true;
}
