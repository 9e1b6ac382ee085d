#pragma once

#include "support/TestSupport.h"

// A temporary folder tree and the small file operations the watcher tests
// are told in.
class WatcherFixture : public ::testing::Test {
protected:
    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    // Creates the folder (and its parents) below the temporary root.
    QString makeFolder(const QString &relative) const
    {
        QDir().mkpath(path(relative));
        return path(relative);
    }

    void save(const QString &relative, const QByteArray &content = "content") const
    {
        testsupport::writeFile(path(relative), content);
    }

    QTemporaryDir m_dir;
};
