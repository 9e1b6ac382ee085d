#pragma once

#include <QByteArray>
#include <QString>

// Reading a file's content for its hash, shared by the folder scan (by path)
// and the folder handle (relative to a directory descriptor).
namespace FileHash {

// Opens `name`, relative to the directory open at `dirFd` (or AT_FDCWD), for
// reading, and returns the descriptor. Never follows a symbolic link in the
// last place (CrossesLinkError) and never waits on a pipe; anything but a
// regular file is refused with FileError. `shownPath` names the file in
// error texts.
int openRegularFile(int dirFd, const QByteArray &name, const QString &shownPath);

// SHA-256 of everything readable from `fd` as 64 lower-case hex digits, read
// in 1 MiB chunks. Throws FileError when a read fails part-way. Safe to call
// from any thread.
QString sha256Of(int fd, const QString &shownPath);

// The text of an errno value, safe to call from any thread.
QString errorText(int error);

} // namespace FileHash
