#include "sync/UnreadableFolder.h"

UnreadableFolder::UnreadableFolder(const QString &folderPath)
    : Error(QStringLiteral("Cannot read folder %1").arg(folderPath))
{
}
