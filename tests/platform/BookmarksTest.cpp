#include "platform/Bookmarks.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

class BookmarksTest : public ::testing::Test {
protected:
    QString path(const QString &relative) const { return dir.filePath(relative); }
    QTemporaryDir dir;
};

TEST_F(BookmarksTest, ResolvesToTheSameFolder)
{
    ASSERT_TRUE(QDir().mkpath(path("Docs")));
    const auto bookmark = Bookmarks::create(path("Docs"));
    ASSERT_TRUE(bookmark);
    const auto resolved = Bookmarks::resolve(*bookmark);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->path, path("Docs"));
    EXPECT_FALSE(resolved->isStale);

    // The same folder however its path was written.
    const auto spelled = Bookmarks::create(path("Docs/../Docs/"));
    ASSERT_TRUE(spelled);
    EXPECT_EQ(Bookmarks::resolve(*spelled)->path, path("Docs"));

    // Moving its content does not matter, only the folder itself.
    testsupport::writeFile(path("Docs/a.txt"), "a");
    EXPECT_FALSE(Bookmarks::resolve(*bookmark)->isStale);
}

TEST_F(BookmarksTest, FailsForMissingFoldersAndIsStaleForReplacedOnes)
{
    EXPECT_FALSE(Bookmarks::create(path("missing")));
    testsupport::writeFile(path("file"), "x");
    EXPECT_FALSE(Bookmarks::create(path("file")));

    ASSERT_TRUE(QDir().mkpath(path("Docs")));
    const auto bookmark = Bookmarks::create(path("Docs"));
    ASSERT_TRUE(bookmark);

    // The original moved away and another folder took its path; both exist,
    // so the new one cannot have the old one's identity.
    ASSERT_TRUE(QDir().rename(path("Docs"), path("Moved")));
    ASSERT_TRUE(QDir().mkpath(path("Docs")));
    const auto replaced = Bookmarks::resolve(*bookmark);
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(replaced->isStale);
    EXPECT_EQ(replaced->path, path("Docs"));

    ASSERT_TRUE(QDir(path("Docs")).removeRecursively());
    EXPECT_FALSE(Bookmarks::resolve(*bookmark));
    testsupport::writeFile(path("Docs"), "now a file");
    EXPECT_FALSE(Bookmarks::resolve(*bookmark));
}

TEST_F(BookmarksTest, GarbageDoesNotResolve)
{
    ASSERT_TRUE(QDir().mkpath(path("Docs")));
    const QByteArray pathJson = path("Docs").toUtf8();
    for (const QByteArray &bytes : {
             QByteArray(), QByteArray("\x00\xff garbage", 10), QByteArray("[]"), QByteArray("{}"),
             QByteArray(R"({"path":"relative/Docs","device":1,"inode":2})"),
             QByteArray(R"({"path":5,"device":1,"inode":2})"),
             QByteArray(R"({"path":")" + pathJson + R"(","device":"1","inode":2})"),
             QByteArray(R"({"path":")" + pathJson + R"("})"),
         })
        EXPECT_FALSE(Bookmarks::resolve(bytes)) << bytes.toStdString();
}
