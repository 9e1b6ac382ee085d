#pragma once

#include <QString>
#include <functional>

// Opening local files and folders with the desktop's default application
// (the file manager for folders).

// What opening a recent file shows: the file itself; when it is gone, the
// nearest folder above it that still exists. Empty when there is nothing to
// show (no path known).
QString locationToOpen(const QString &filePath);

// Hands the path to the desktop; false when there was nothing to open, the
// path is gone, or the desktop refused it. Each such failure is told to the
// failure handler, with the sentence to show.
bool openLocation(const QString &path);

// Who tells the user that something could not be opened (the shell posts a
// notice); none by default.
void setOpenFailureHandler(std::function<void(const QString &text)> handler);
