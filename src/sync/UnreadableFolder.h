#pragma once

#include "api/Errors.h"

// A watched folder that does not exist or cannot be listed: its pass is
// skipped without any change, and the pass as a whole ends in error.
class UnreadableFolder : public Error {
public:
    explicit UnreadableFolder(const QString &folderPath);
    // `sentence` names the folder with %1.
    UnreadableFolder(const QString &folderPath, const QString &sentence);
};

// A watched folder that is no longer the one the user chose (moved away and
// replaced, an unmounted drive's mount point): skipped the same way.
class ReplacedFolder : public UnreadableFolder {
public:
    explicit ReplacedFolder(const QString &folderPath);
};

// A watched folder that lies inside another watched folder or holds one (a
// pair stored before such pairs were refused): skipped the same way, so
// that no file belongs to two folders' passes.
class OverlappingFolder : public UnreadableFolder {
public:
    OverlappingFolder(const QString &folderPath, const QString &otherFolder);
};
