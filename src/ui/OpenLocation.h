#pragma once

#include <QString>

// Opening local files and folders with the desktop's default application
// (the file manager for folders).

// What opening a recent file shows: the file itself; when it is gone, the
// nearest folder above it that still exists. Empty when there is nothing to
// show (no path known).
QString locationToOpen(const QString &filePath);

// Hands the path to the desktop; false when there was nothing to open or the
// desktop refused it.
bool openLocation(const QString &path);
