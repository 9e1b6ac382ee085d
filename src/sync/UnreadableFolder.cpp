#include "sync/UnreadableFolder.h"

UnreadableFolder::UnreadableFolder(const QString &folderPath)
    : UnreadableFolder(folderPath, QStringLiteral("Cannot read folder %1"))
{
}

UnreadableFolder::UnreadableFolder(const QString &folderPath, const QString &sentence)
    : Error(sentence.arg(folderPath))
{
}

ReplacedFolder::ReplacedFolder(const QString &folderPath)
    : UnreadableFolder(folderPath, QStringLiteral("Folder %1 was replaced or moved; choose it again in the settings"))
{
}

OverlappingFolder::OverlappingFolder(const QString &folderPath, const QString &otherFolder)
    : UnreadableFolder(folderPath, QStringLiteral("Folder %1 overlaps the watched folder %2 and is not synced; "
                                                  "remove one of them or choose it again in the settings")
                                       .arg(QStringLiteral("%1"), otherFolder))
{
}
