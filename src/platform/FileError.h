#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// Every failure in TavrelSync is an exception carrying a sentence a user can
// read; that sentence is what the log and the status line show.
class Error : public std::exception {
public:
    explicit Error(QString description);
    const QString &description() const { return m_description; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// A local file or folder could not be read, written, moved or removed.
class FileError : public Error {
public:
    using Error::Error;
};

// A path below a watched folder passes through a symbolic link or through
// something that is not a folder: it no longer names a place inside the
// folder, so nothing there may be read or changed.
class CrossesLinkError : public FileError {
public:
    using FileError::FileError;
};
