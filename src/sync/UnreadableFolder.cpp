#include "sync/UnreadableFolder.h"

#include <QFile>

#include <dirent.h>

UnreadableFolder::UnreadableFolder(const QString &folderPath)
    : Error(QStringLiteral("Cannot read folder %1").arg(folderPath))
{
}

bool canOpenDirectory(const QString &path)
{
    DIR *directory = ::opendir(QFile::encodeName(path).constData());
    if (!directory)
        return false;
    ::closedir(directory);
    return true;
}
