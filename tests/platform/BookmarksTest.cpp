#include "platform/Bookmarks.h"

#include "support/TestSupport.h"

#include <sys/xattr.h>

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
             QByteArray(R"({"path":5,"device":1,"inode":2})"),
             QByteArray(R"({"path":")" + pathJson + R"(","device":"1","inode":2})"),
             QByteArray(R"({"path":")" + pathJson + R"("})"),
         })
        EXPECT_FALSE(Bookmarks::resolve(bytes)) << bytes.toStdString();

    // A NUL inside the path would be cut there by the system calls and name
    // the folder before it, with that folder's identity.
    const auto docs = Bookmarks::read(*Bookmarks::create(path("Docs")));
    const QByteArray cut = R"({"path":")" + pathJson + R"(\u0000/Other","device":)"
                           + QByteArray::number(docs->identity.device) + R"(,"inode":)"
                           + QByteArray::number(docs->identity.inode) + "}";
    EXPECT_FALSE(Bookmarks::read(cut));
    EXPECT_FALSE(Bookmarks::resolve(cut));
}

TEST_F(BookmarksTest, TheMarkOnTheFolderKnowsItUnderAnotherDeviceNumberButNotAFolderPutInItsPlace)
{
    ASSERT_TRUE(QDir().mkpath(path("Docs")));
    const auto bookmark = Bookmarks::create(path("Docs"));
    ASSERT_TRUE(bookmark);
    const auto made = Bookmarks::read(*bookmark);
    ASSERT_FALSE(made->mark.isEmpty());
    EXPECT_EQ(Bookmarks::markOf(path("Docs"), made->identity), made->mark);
    // Each choice is a new mark.
    EXPECT_NE(Bookmarks::read(*Bookmarks::create(path("Docs")))->mark, made->mark);
    const auto current = Bookmarks::read(*Bookmarks::create(path("Docs")))->mark;

    // What a drive mounted again looks like: another device and inode in
    // the bookmark than the folder now has, the same mark on the folder.
    const auto remounted = [&](const QString &mark) {
        return QByteArray(R"({"path":")" + path("Docs").toUtf8() + R"(","device":1,"inode":2,"mark":")"
                          + mark.toUtf8() + R"("})");
    };
    const auto back = Bookmarks::resolve(remounted(current));
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->isStale);
    EXPECT_EQ(back->current, made->identity);
    EXPECT_TRUE(Bookmarks::resolve(remounted("another-mark"))->isStale);
    // A bookmark from before marks were kept: the identity alone decides.
    EXPECT_TRUE(Bookmarks::resolve(QByteArray(R"({"path":")" + path("Docs").toUtf8() + R"(","device":1,"inode":2})"))
                    ->isStale);

    // A folder put in its place has no mark; one moved away keeps its own.
    ASSERT_TRUE(QDir().rename(path("Docs"), path("Moved")));
    ASSERT_TRUE(QDir().mkpath(path("Docs")));
    EXPECT_TRUE(Bookmarks::resolve(remounted(current))->isStale);
    const auto now = Bookmarks::read(*Bookmarks::create(path("Docs"), "kept"));
    EXPECT_EQ(now->mark, "kept");
    EXPECT_EQ(Bookmarks::markOf(path("Docs"), now->identity), QString()); // given marks are not written
    EXPECT_EQ(Bookmarks::markOf(path("Moved"), made->identity), current);
    // Read only from the folder of the identity given.
    EXPECT_EQ(Bookmarks::markOf(path("Moved"), now->identity), QString());
}

// A bookmark whose mark was written on the folder: the same numbers with no
// mark at all are a new file system there; another mark (the folder chosen
// again by someone else sharing it) or a bookmark that never marked the
// folder leave the numbers to decide.
TEST_F(BookmarksTest, TheSameNumbersWithoutTheMarkAreANewFileSystem)
{
    ASSERT_TRUE(QDir().mkpath(path("Docs")));
    const QByteArray folder = QFile::encodeName(path("Docs"));
    const QByteArray marked = *Bookmarks::create(path("Docs"));
    ASSERT_TRUE(Bookmarks::read(marked)->markedOnFolder);
    EXPECT_FALSE(Bookmarks::resolve(marked)->isStale);

    const QByteArray other = "someone-else";
    ASSERT_EQ(::setxattr(folder.constData(), Bookmarks::markAttribute, other.constData(), other.size(), 0), 0);
    EXPECT_FALSE(Bookmarks::resolve(marked)->isStale);

    ASSERT_EQ(::removexattr(folder.constData(), Bookmarks::markAttribute), 0);
    EXPECT_TRUE(Bookmarks::resolve(marked)->isStale);
    // Given a mark the folder does not carry, a bookmark does not claim it.
    const QByteArray unmarked = *Bookmarks::create(path("Docs"), "kept");
    EXPECT_FALSE(Bookmarks::read(unmarked)->markedOnFolder);
    EXPECT_FALSE(Bookmarks::resolve(unmarked)->isStale);
}
