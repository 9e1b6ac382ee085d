#include "state/AppState.h"

#include "platform/Bookmarks.h"
#include "platform/Preferences.h"
#include "state/CredentialStore.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <memory>

using testsupport::readFile;

class AppStateTest : public ::testing::Test {
protected:
    // A fresh start of the application: preferences read from disk again.
    AppState &restart()
    {
        state.reset();
        preferences = std::make_unique<Preferences>();
        state = std::make_unique<AppState>(*preferences);
        return *state;
    }
    QString folder(const QString &name)
    {
        const QString path = home.filePath("folders/" + name);
        EXPECT_TRUE(QDir().mkpath(path));
        return path;
    }
    void storeCredentials(const QStringList &shortKeys)
    {
        CredentialStore store(*preferences);
        for (const QString &key : shortKeys)
            store.write(key, "value of " + key);
    }
    QList<QByteArray> storedBookmarks() const
    {
        return Preferences().dataArray("watchedFolderBookmarks").value_or(QList<QByteArray>{});
    }

    testsupport::TempHome home;
    std::unique_ptr<Preferences> preferences = std::make_unique<Preferences>();
    std::unique_ptr<AppState> state = std::make_unique<AppState>(*preferences);
};

TEST_F(AppStateTest, SignInStateComesFromTheStoredSessionKeys)
{
    // Nothing stored: signed out, and no key gets written by loading.
    state->loadSavedState();
    EXPECT_FALSE(state->isLoggedIn());
    EXPECT_FALSE(state->userInfo());
    EXPECT_FALSE(QFileInfo::exists(home.preferencesPath()));

    CredentialStore(*preferences).write("api_token", "");
    restart().loadSavedState();
    EXPECT_FALSE(state->isLoggedIn());

    // A token without the organisation: signed in, but no user restored.
    storeCredentials({"api_token", "user_email", "user_name"});
    restart().loadSavedState();
    EXPECT_TRUE(state->isLoggedIn());
    EXPECT_FALSE(state->userInfo());

    // User details without a token do not sign in.
    storeCredentials({"user_org"});
    preferences->remove("tavrel_api_token");
    restart().loadSavedState();
    EXPECT_FALSE(state->isLoggedIn());
    EXPECT_FALSE(state->userInfo());

    storeCredentials({"api_token"});
    restart().loadSavedState();
    EXPECT_TRUE(state->isLoggedIn());
    ASSERT_TRUE(state->userInfo());
    EXPECT_EQ(state->userInfo()->email, "value of user_email");
    EXPECT_EQ(state->userInfo()->organization, "value of user_org");

    // A token stored as another type counts as absent.
    preferences->setDouble("tavrel_api_token", 5);
    restart().loadSavedState();
    EXPECT_FALSE(state->isLoggedIn());
}

TEST_F(AppStateTest, WatchedFoldersAreLimitedUniqueAndPersisted)
{
    QSignalSpy changes(state.get(), &AppState::watchedFoldersChanged);
    QStringList folders;
    for (int i = 0; i < 6; ++i)
        folders.append(folder(QStringLiteral("F%1").arg(i)));

    // An empty path is no folder.
    state->addWatchedFolder("");
    EXPECT_TRUE(state->watchedFolders().isEmpty());

    for (int i = 0; i < 5; ++i)
        state->addWatchedFolder(folders[i]);
    EXPECT_EQ(state->watchedFolders(), folders.mid(0, 5));
    EXPECT_EQ(changes.count(), 5);
    EXPECT_EQ(storedBookmarks().size(), 5);

    // A sixth folder and the same folder spelled differently change nothing
    // and write nothing.
    const QByteArray before = readFile(home.preferencesPath());
    state->addWatchedFolder(folders[5]);
    state->addWatchedFolder(folders[1] + "/");
    state->addWatchedFolder(folders[1] + "/../F1");
    state->removeWatchedFolder(5);
    state->removeWatchedFolder(-1);
    EXPECT_EQ(state->watchedFolders(), folders.mid(0, 5));
    EXPECT_EQ(changes.count(), 5);
    Preferences::waitForWrites();
    EXPECT_EQ(readFile(home.preferencesPath()), before);

    state->removeWatchedFolder(1);
    EXPECT_EQ(state->watchedFolders(), (QStringList{folders[0], folders[2], folders[3], folders[4]}));
    EXPECT_EQ(changes.count(), 6);
    EXPECT_EQ(storedBookmarks().size(), 4);

    // Sign-out empties the list but not the stored bookmarks: the folders
    // are watched again at the next start.
    CredentialStore(*preferences).clearAll();
    state->setWatchedFolders({});
    restart().loadSavedState();
    EXPECT_EQ(state->watchedFolders(), (QStringList{folders[0], folders[2], folders[3], folders[4]}));
}

TEST_F(AppStateTest, StaleAndMissingFoldersStayListedAndMarkedWithTheirOwnBookmarks)
{
    const QString first = folder("First"), second = folder("Second"), third = folder("Third"),
                  gone = folder("Gone");
    for (const QString &path : {first, second, third, gone})
        state->addWatchedFolder(path);
    ASSERT_EQ(storedBookmarks().size(), 4);

    // Second is replaced by another folder at the same path; Gone is removed.
    ASSERT_TRUE(QDir().rename(second, second + "-old"));
    ASSERT_TRUE(QDir().mkpath(second));
    ASSERT_TRUE(QDir(gone).removeRecursively());

    // Both stay watched, marked, so nothing of them syncs until they are
    // back or chosen again; saving keeps the bookmarks they were chosen with.
    restart().loadSavedState();
    EXPECT_EQ(state->watchedFolders(), (QStringList{first, second, third, gone}));
    EXPECT_EQ(state->foldersNeedingChoice(), (QStringList{second, gone}));
    state->removeWatchedFolder(0);
    EXPECT_EQ(state->watchedFolders(), (QStringList{second, third, gone}));
    ASSERT_EQ(storedBookmarks().size(), 3);
    EXPECT_TRUE(Bookmarks::resolve(storedBookmarks().at(0))->isStale);
    EXPECT_NE(state->watchedFolderBookmark(second), std::nullopt);
}

TEST_F(AppStateTest, OldBookmarksGetAMarkAndAStoredNestedPairLeavesTheLaterFolderMarked)
{
    const QString docs = folder("Docs"), inner = folder("Docs/Inner"), other = folder("Other");
    // Bookmarks as earlier versions wrote them: no mark, and a nested pair;
    // a mark on the folder but not said to be there.
    QList<QByteArray> old;
    QString otherMark;
    for (const QString &path : {docs, inner, other}) {
        QJsonObject recorded = QJsonDocument::fromJson(*Bookmarks::create(path)).object();
        ASSERT_TRUE(recorded.value("marked").toBool());
        recorded.remove("marked");
        if (path == other)
            otherMark = recorded.value("mark").toString();
        else
            recorded.remove("mark");
        old.append(QJsonDocument(recorded).toJson(QJsonDocument::Compact));
    }
    preferences->setDataArray("watchedFolderBookmarks", old);

    restart().loadSavedState();
    const auto chosenMark = [&](const QString &path) { return state->watchedFolderBookmark(path)->mark; };
    EXPECT_EQ(state->watchedFolders(), (QStringList{docs, inner, other}));
    EXPECT_EQ(state->foldersNeedingChoice(), QStringList{inner});
    EXPECT_EQ(state->overlappingFolder(inner), docs);
    EXPECT_EQ(state->overlappingFolder(docs), std::nullopt);
    for (const QString &path : {docs, other}) {
        const QString mark = chosenMark(path);
        EXPECT_FALSE(mark.isEmpty());
        EXPECT_EQ(Bookmarks::markOf(path, state->watchedFolderBookmark(path)->identity), mark);
        EXPECT_TRUE(state->watchedFolderBookmark(path)->markedOnFolder);
    }
    EXPECT_EQ(chosenMark(other), otherMark);
    // Stored with their marks, kept from then on.
    const QString docsMark = chosenMark(docs);
    restart().loadSavedState();
    EXPECT_EQ(chosenMark(docs), docsMark);

    // Chosen again, the inner folder is still refused; removing the outer
    // one lets it be chosen.
    EXPECT_FALSE(state->replaceWatchedFolder(1, inner));
    state->removeWatchedFolder(0);
    EXPECT_TRUE(state->replaceWatchedFolder(0, inner));
    EXPECT_TRUE(state->foldersNeedingChoice().isEmpty());
    EXPECT_NE(chosenMark(inner), QString());
}

TEST_F(AppStateTest, MalformedBookmarkListsLeaveTheFoldersAlone)
{
    const QString docs = folder("Docs");
    state->addWatchedFolder(docs);

    preferences->setString("watchedFolderBookmarks", "not an array");
    state->loadBookmarks();
    EXPECT_EQ(state->watchedFolders(), QStringList{docs});

    testsupport::writeFile(home.preferencesPath(),
                           R"({"watchedFolderBookmarks": [{"data": "e30="}, "not data"]})");
    restart().loadBookmarks();
    EXPECT_TRUE(state->watchedFolders().isEmpty());

    // A list written elsewhere with duplicates and too many folders still
    // gives at most five distinct folders, in stored order.
    QList<QByteArray> bookmarks;
    QStringList expected;
    for (int i = 0; i < 7; ++i) {
        const QString path = folder(QStringLiteral("M%1").arg(i));
        bookmarks.append(*Bookmarks::create(path));
        bookmarks.append(*Bookmarks::create(path));
        if (i < 5)
            expected.append(path);
    }
    preferences->setDataArray("watchedFolderBookmarks", bookmarks);
    restart().loadBookmarks();
    EXPECT_EQ(state->watchedFolders(), expected);
}

// The recent list survives a restart whole (paths and times included), is
// written once for a burst of transfers, and a damaged entry costs only
// itself.
TEST_F(AppStateTest, RecentFilesSurviveARestart)
{
    for (int i = 1; i <= 12; ++i)
        state->recordTransfer(QStringLiteral("file%1.txt").arg(i), "uploaded", home.filePath(QString("f/file%1.txt").arg(i)));
    EXPECT_FALSE(Preferences().contains("recentFiles")); // not yet: the burst is still going
    const QList<RecentFile> before = state->recentFiles();
    EXPECT_TRUE(testsupport::waitUntil([] { return Preferences().contains("recentFiles"); },
                                       "the delayed write of the recent files"));

    restart().loadSavedState();
    EXPECT_EQ(state->recentFiles(), before);

    // Written at exit when the delay has not run out.
    state->recordTransfer("last.txt", "downloaded");
    restart().loadSavedState();
    ASSERT_EQ(state->recentFiles().size(), 10);
    EXPECT_EQ(state->recentFiles().first().name, "last.txt");
    EXPECT_EQ(state->recentFiles().first().path, "");

    QList<QByteArray> stored = preferences->dataArray("recentFiles").value();
    stored[1] = "{not json";
    stored[2] = R"({"name":"no time.txt","action":"uploaded"})";
    preferences->setDataArray("recentFiles", stored);
    restart().loadSavedState();
    ASSERT_EQ(state->recentFiles().size(), 8);
    EXPECT_EQ(state->recentFiles()[1].name, before[2].name);
}
