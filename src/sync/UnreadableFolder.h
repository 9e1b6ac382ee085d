#pragma once

#include "api/Errors.h"

// A watched folder that does not exist or cannot be listed: its pass is
// skipped without any change, and the pass as a whole ends in error.
class UnreadableFolder : public Error {
public:
    explicit UnreadableFolder(const QString &folderPath);
};
