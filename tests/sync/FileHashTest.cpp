#include "support/FilePermissions.h"
#include "sync/LocalScanner.h"

#include "api/Errors.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using testsupport::writeFile;

class FileHashTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return dir.filePath(name); }
    QTemporaryDir dir;
};

TEST_F(FileHashTest, FilesAcrossChunkBoundariesHashAsTheirWholeContent)
{
    constexpr qsizetype mib = 1024 * 1024;
    for (const qsizetype size : {qsizetype(0), mib - 1, mib, mib + 1, 3 * mib + 1}) {
        QByteArray content(size, Qt::Uninitialized);
        for (qsizetype i = 0; i < size; ++i)
            content[i] = char((i * 2654435761u) >> 13);
        const QString file = path(QStringLiteral("f%1").arg(size));
        writeFile(file, content);
        const QString expected =
            QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        EXPECT_EQ(LocalScanner::computeFileHash(file), expected) << size;
    }
}

TEST_F(FileHashTest, ThrowsWhenTheFileCannotBeRead)
{
    try {
        LocalScanner::computeFileHash(path("missing"));
        ADD_FAILURE() << "a missing file was hashed";
    } catch (const FileError &error) {
        EXPECT_TRUE(error.description().contains(path("missing"))) << error.description().toStdString();
    }
    // Directories and pipes are refused by the same opening as the folder
    // handle's hashes, tested there.
    writeFile(path("target"), "x");
    testsupport::makeLink(path("target"), path("link"));
    EXPECT_THROW(LocalScanner::computeFileHash(path("link")), FileError);

    if (const testsupport::PermissionsApply permissions; permissions.active()) {
        writeFile(path("private"), "x");
        ASSERT_TRUE(QFile::setPermissions(path("private"), {}));
        EXPECT_THROW(LocalScanner::computeFileHash(path("private")), FileError);
    }
}

TEST_F(FileHashTest, ModificationDateIsTheFilesOrNow)
{
    writeFile(path("dated"), "x");
    const timespec times[2] = {{0, UTIME_OMIT}, {1767225600, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path("dated")).constData(), times, 0), 0);
    EXPECT_EQ(LocalScanner::fileModificationDate(path("dated")),
              QDateTime::fromMSecsSinceEpoch(1767225600123LL, Qt::UTC));

    const QDateTime before = QDateTime::currentDateTimeUtc();
    const QDateTime missing = LocalScanner::fileModificationDate(path("missing"));
    EXPECT_GE(missing, before);
    EXPECT_LE(missing, QDateTime::currentDateTimeUtc());
}
