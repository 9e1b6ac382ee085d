// What a pass sends, fetches and leaves alone, file by file, and how it
// settles a file changed on both sides.
#include "EngineFixture.h"
#include "platform/FolderAccess.h"

#include <QSysInfo>

using testsupport::readFile;
using testsupport::writeFile;

class PassRowsTest : public EngineFixture {};

TEST_F(PassRowsTest, FirstPassUploadsNewFilesAndLeavesSameNamePairsUntracked)
{
    const QString docs = watch("home/Docs");
    writeFile(docs + "/a.txt", "alpha");
    writeFile(docs + "/Sub/b.pdf", "beta");
    writeFile(docs + "/shared.txt", "local side");
    writeFile(docs + "/draft.tmp", "scratch");
    const int64_t root = running.server.createFolder(email, "Desktop Sync", std::nullopt);
    const int64_t sub = running.server.createFolder(email, "Docs", root);
    running.server.putDocument(email, sub, "shared.txt", "server side");
    syncOk();

    EXPECT_EQ(engine->syncState().serverFolderId, root);
    EXPECT_EQ(serverFolderOf(docs), sub);
    EXPECT_EQ(requestCount("POST", "/api/v1/folders"), 0);
    EXPECT_EQ(documentsOf(docs).size(), 3u);
    EXPECT_EQ(serverContent(docs, "b.pdf"), "beta");
    EXPECT_EQ(serverContent(docs, "shared.txt"), "server side");
    EXPECT_EQ(readFile(docs + "/shared.txt"), "local side");
    const auto &tracked = engine->syncState().trackedFiles;
    EXPECT_EQ(tracked.keys(), (QStringList{docs + "/Sub/b.pdf", docs + "/a.txt"}));
    EXPECT_EQ(tracked.value(docs + "/a.txt").remoteId, documentsOf(docs).at("a.txt").id);
    EXPECT_TRUE(log.has("info: Uploaded: a.txt"));
}

// A server edit replaces an unchanged copy in place, keeping its mode; the
// version replaced needs no copy when it came from the server, but the one
// sent from here may never have been seen elsewhere, and the Trash keeps it.
TEST_F(PassRowsTest, LocalChangesGoUpAndServerChangesComeDown)
{
    const QString docs = watch("Docs");
    writeFiles(docs, {"sent.txt", "edited.txt", "touched.txt"}, "v1");
    syncOk();
    putDocument(docs, "received.txt", "received");
    syncOk();
    for (const char *name : {"/sent.txt", "/received.txt"})
        QFile::setPermissions(docs + name, QFile::ReadOwner | QFile::WriteOwner);
    putDocument(docs, "sent.txt", "server v2");      // unchanged locally: comes down
    putDocument(docs, "received.txt", "server v2 too");
    writeFile(docs + "/edited.txt", "local v2");     // changed locally, not listed by the server
    putDocument(docs, "touched.txt", "v1");          // listed again, with the agreed hash
    writeFile(docs + "/touched.txt", "local v2");
    EXPECT_EQ(transfersOfPass(), 4);

    EXPECT_EQ(readFile(docs + "/sent.txt"), "server v2");
    EXPECT_EQ(readFile(docs + "/received.txt"), "server v2 too");
    for (const char *name : {"/sent.txt", "/received.txt"})
        EXPECT_EQ(testsupport::modeOf(docs + name), 0600u) << name;
    EXPECT_EQ(serverContent(docs, "edited.txt"), "local v2");
    EXPECT_EQ(serverContent(docs, "touched.txt"), "local v2");
    EXPECT_TRUE(conflictCopies(docs).isEmpty());
    EXPECT_EQ(trashedNames(home), QStringList{"sent.txt"});
    // The next local edit goes up over the new version, not a stale one.
    writeFile(docs + "/received.txt", "edited here next");
    syncOk();
    EXPECT_EQ(serverContent(docs, "received.txt"), "edited here next");
}

// The later modification time keeps the name, a tie goes to the server, and
// the version that lost is kept beside the file (the server's too), then
// goes up as a new file.
TEST_F(PassRowsTest, ConflictsGoToTheLaterSideAndTiesToTheServer)
{
    const QString docs = watch("Docs");
    writeFiles(docs, {"local-later.txt", "tie.txt", "server-later.txt", "bad-time.txt", "offset.txt", "Sub/deep.txt",
                      "single.txt"}, "agreed");
    QFile::setPermissions(docs + "/server-later.txt", QFile::ReadOwner | QFile::WriteOwner);
    syncOk();
    const auto change = [&](const QString &name, const char *localTime, const std::string &updatedAt) {
        writeFile(docs + "/" + name, "local edit");
        setModified(docs + "/" + name, utc(localTime));
        putDocument(docs, QFileInfo(name).fileName().toStdString(), "server edit", updatedAt);
    };
    change("local-later.txt", "2026-03-01T10:00:05Z", "2026-03-01T10:00:00Z");
    change("tie.txt", "2026-03-01T10:00:00Z", "2026-03-01T10:00:00Z");
    change("server-later.txt", "2026-03-01T10:00:00Z", "2026-03-01T10:00:01Z");
    change("bad-time.txt", "1990-01-01T00:00:00Z", "2026-03-01T10:00:00.500Z"); // a fraction does not read
    change("offset.txt", "2026-03-01T10:30:00Z", "2026-03-01T11:30:00+01:00");  // the same instant
    change("Sub/deep.txt", "2020-01-01T00:00:00Z", "2026-01-01T00:00:00Z");
    syncOk();

    for (const char *name : {"local-later.txt", "bad-time.txt"}) {
        EXPECT_EQ(serverContent(docs, name), "local edit") << name;
        const QStringList copies = conflictCopies(docs, QFileInfo(name).baseName() + " ");
        ASSERT_EQ(copies.size(), 1) << name;
        EXPECT_EQ(readFile(docs + "/" + copies.front()), "server edit") << name;
    }
    for (const char *name : {"tie.txt", "server-later.txt", "offset.txt", "Sub/deep.txt"}) {
        EXPECT_EQ(readFile(docs + "/" + name), "server edit") << name;
        const QString dir = QFileInfo(docs + "/" + name).absolutePath();
        const QStringList copies = QDir(dir).entryList({QFileInfo(name).baseName() + " (conflicted copy *).txt"});
        ASSERT_EQ(copies.size(), 1) << name;
        EXPECT_EQ(readFile(dir + "/" + copies.front()), "local edit") << name;
    }
    EXPECT_EQ(testsupport::modeOf(docs + "/server-later.txt"), 0600u) << "the replaced file's mode";
    EXPECT_FALSE(QFileInfo::exists(docs + "/deep.txt"));
    EXPECT_EQ(conflictCopies(docs).size(), 5);
    EXPECT_EQ(log.linesWith("warning: Conflict on local-later.txt: the local version is newer").size(), 1);
    EXPECT_EQ(log.linesWith("warning: Conflict on tie.txt").size(), 1);
    // The pass tells them once.
    EXPECT_EQ(notices, (QList<QStringList>{{"Conflict copy made",
                                            "6 files changed on both sides; both versions of each were kept", docs}}));

    running.server.clearRequests();
    syncOk();
    EXPECT_EQ(uploads(), 6);
    EXPECT_EQ(serverContent(docs, conflictCopies(docs, "tie ").front().toStdString()), "local edit");
    EXPECT_EQ(transfersOfPass(), 0);

    // A single conflict's notice names the computer whose version is newer.
    notices.clear();
    change("single.txt", "2026-03-02T10:00:05Z", "2026-03-02T10:00:00Z");
    syncOk();
    ASSERT_EQ(notices.size(), 1);
    EXPECT_TRUE(notices[0][1].contains(QSysInfo::machineHostName())) << notices[0][1].toStdString();
}

// A second conflict on a file within the same second as its last copy: the
// copy takes the next number rather than failing until the clock moves on.
TEST_F(PassRowsTest, ConflictCopiesMadeWithinOneSecondAreNumbered)
{
    const QString docs = watch("Docs");
    writeFiles(docs, {"mine-later.txt", "theirs-later.txt"}, "agreed");
    syncOk();
    // The plain copy names of the next seconds are taken, as by copies made
    // a moment ago.
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second < 30; ++second)
        for (const char *name : {"mine-later.txt", "theirs-later.txt"})
            writeFile(docs + "/" + conflictCopyName(name, now.addSecs(second)), "an earlier copy");
    writeFile(docs + "/mine-later.txt", "local edit");
    setModified(docs + "/mine-later.txt", utc("2026-03-01T10:00:05Z"));
    putDocument(docs, "mine-later.txt", "server edit", "2026-03-01T10:00:00Z");
    writeFile(docs + "/theirs-later.txt", "local edit");
    setModified(docs + "/theirs-later.txt", utc("2026-03-01T10:00:00Z"));
    putDocument(docs, "theirs-later.txt", "server edit", "2026-03-01T10:00:01Z");
    syncOk();

    const auto numberedCopy = [&](const QString &stem) {
        const QStringList copies = QDir(docs).entryList({stem + " (conflicted copy * 2).txt"});
        return copies.size() == 1 ? readFile(docs + "/" + copies.front()) : QByteArray::number(copies.size()) + " copies";
    };
    EXPECT_EQ(serverContent(docs, "mine-later.txt"), "local edit");
    EXPECT_EQ(numberedCopy("mine-later"), "server edit");
    EXPECT_EQ(readFile(docs + "/theirs-later.txt"), "server edit");
    EXPECT_EQ(numberedCopy("theirs-later"), "local edit");
    EXPECT_EQ(conflictCopies(docs).size(), 62);
}

// New documents come down only where nothing is, and only under names that
// are one plain, wanted file name inside the folder.
TEST_F(PassRowsTest, NewServerDocumentsComeDownOnlyWhereNothingIsAndUnderUsableNames)
{
    const QString docs = watch("home/Docs");
    syncOk();
    writeFile(docs + "/Plans/inner.txt", "mine");
    writeFile(area.filePath("home/x"), "neighbour");
    writeFile(area.filePath("outside.txt"), "outside");
    QFile::link(area.filePath("outside.txt"), docs + "/link.txt");
    const bool etcHadX = QFileInfo::exists("/etc/x");
    for (const char *name : {"report.pdf", "partial.part", ".hidden", "Thumbs.db", "Plans", "link.txt", "../x", "a/b",
                             "/etc/x", "..", "."})
        putDocument(docs, name, "from the server");
    putDocument(docs, std::string("nul\0name", 8), "hostile");
    log.clear();
    syncOk();

    EXPECT_EQ(readFile(docs + "/report.pdf"), "from the server");
    EXPECT_EQ(QDir(docs).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{"link.txt", "Plans", "report.pdf"}));
    EXPECT_TRUE(QFileInfo(docs + "/link.txt").isSymLink());
    EXPECT_EQ(readFile(area.filePath("outside.txt")), "outside");
    EXPECT_EQ(readFile(docs + "/Plans/inner.txt"), "mine");
    EXPECT_EQ(readFile(area.filePath("home/x")), "neighbour");
    EXPECT_EQ(QDir(area.filePath("home")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), (QStringList{"Docs", "x"}));
    EXPECT_EQ(QFileInfo::exists("/etc/x"), etcHadX);
    EXPECT_EQ(log.linesWith("critical: Skipped download of").size(), 2);
    for (const char *shown : {"../x", "a/b", "/etc/x", "..", ".", "nul\\0name"})
        EXPECT_TRUE(log.has(QString("critical: Skipped server document with an unusable name: \"%1\"").arg(shown)))
            << shown;
    EXPECT_EQ(engine->syncState().trackedFiles.keys(), (QStringList{docs + "/Plans/inner.txt", docs + "/report.pdf"}));
    EXPECT_EQ(appState->recentFiles().front().action, "downloaded");
    EXPECT_EQ(transfersOfPass(), 0);
}
