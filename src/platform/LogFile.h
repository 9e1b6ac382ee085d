#pragma once

#include <QString>

// Log messages go to stderr, as always, and to a file the user can send:
// $XDG_STATE_HOME/TavrelSync/tavrelsync.log (default ~/.local/state). Once
// the file passes `rotateBytes` it becomes tavrelsync.log.1 (replacing the
// older one) and a new file starts. Control characters in a message (line
// breaks above all) are written as escapes, so a file name cannot make one
// message look like several.
namespace LogFile {

QString defaultPath();

// Installs the message handler; the file is opened (its folder created) at
// once. When it cannot be opened, messages still go to stderr.
void install(const QString &path = defaultPath(), qint64 rotateBytes = 4 * 1024 * 1024);
// Restores the handler that was installed before and closes the file.
void uninstall();

// The message with CR, LF, tab and every other control character written
// as \r, \n, \t or \xHH (\uHHHH beyond Latin-1).
QString escaped(const QString &message);

} // namespace LogFile
