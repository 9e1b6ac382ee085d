#pragma once

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// A small memory file system mounted on a temporary folder while it lives:
// another device than the rest of the test's files, and one that fills up.
// Mounting needs privileges; where it is refused, isMounted() is false and
// the test skips what needs it.
class TmpfsMount {
public:
    explicit TmpfsMount(qint64 bytes);
    // Mounted on `at`, an existing folder (a drive inside a watched folder).
    TmpfsMount(qint64 bytes, const QString &at);
    ~TmpfsMount();
    // Unmounts now (the files on it go with it).
    void unmount();
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool isMounted() const { return m_mounted; }
    QString path() const { return m_at; }
    QString filePath(const QString &relative) const { return m_at + QLatin1Char('/') + relative; }

private:
    QTemporaryDir m_dir;
    QString m_at;
    bool m_mounted = false;
};

} // namespace testsupport
