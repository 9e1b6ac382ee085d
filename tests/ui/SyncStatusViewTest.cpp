#include "OpenedUrls.h"

#include "platform/Preferences.h"
#include "state/AppState.h"
#include "support/TestSupport.h"
#include "ui/ElidedLabel.h"
#include "ui/MenuBarView.h"
#include "ui/OpenLocation.h"
#include "ui/RelativeTime.h"
#include "ui/RowButton.h"
#include "ui/StatusSummary.h"
#include "ui/SyncStatusView.h"

#include <QLocale>
#include <QPointer>
#include <QPushButton>

namespace {

class StatusViewTest : public ::testing::Test {
protected:
    StatusViewTest() : state(preferences)
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        view.show();
    }
    ~StatusViewTest() override { QLocale::setDefault(QLocale::c()); }

    QString title() { return view.findChild<QLabel *>("statusText")->text(); }
    bool shown(const char *name) { return view.findChild<QWidget *>(name)->isVisibleTo(&view); }
    QList<RowButton *> visibleRows(const char *name)
    {
        QList<RowButton *> result;
        for (RowButton *row : view.findChildren<RowButton *>(name))
            if (row->isVisibleTo(&view))
                result << row;
        return result;
    }
    QString folder(const QString &relative)
    {
        const QString path = QDir::cleanPath(dir.filePath(relative));
        QDir().mkpath(path);
        return path;
    }

    testsupport::TempHome home;
    QTemporaryDir dir;
    Preferences preferences;
    AppState state;
    SyncStatusView view{state};
};

} // namespace

TEST(StatusSummaryText, CountsAndSizes)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(progressText({0, 0, 0, 0}), "Syncing...");
    EXPECT_EQ(progressText({0, 1, 0, 0}), "Syncing 0 of 1 file");
    EXPECT_EQ(progressText({2, 7, 0, 0}), "Syncing 2 of 7 files");
    EXPECT_EQ(byteAmountsText(1'500'000'000, 3'200'000'000), "1.5 of 3.2 GB");
    EXPECT_EQ(byteAmountsText(0, 999), "0 of 999 bytes");
    EXPECT_EQ(byteAmountsText(12'345, 45'678), "12 of 46 kB");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(progressText({1234, 3001, 45'000'000, 300'000'000}), "Syncing 1.234 of 3.001 files · 45 of 300 MB");
    QLocale::setDefault(QLocale::c());
}

// A long sync updates the block in place: the same widgets throughout, the
// five newest files in order, nothing built again per file.
TEST_F(StatusViewTest, LongSyncUpdatesInPlace)
{
    state.setIsLoggedIn(true);
    state.addWatchedFolder(folder("Photos"));
    state.setSyncStatus(SyncStatus::syncing());
    state.recordTransfer("first.jpg", "uploaded");
    QPointer<QLabel> titleLabel = view.findChild<QLabel *>("statusText");
    QList<QPointer<RowButton>> rowsBefore;
    for (RowButton *row : view.findChildren<RowButton *>())
        rowsBefore << row;

    for (int i = 1; i <= 200; ++i) {
        state.setSyncProgress({i, 200, i * 1000, 200'000});
        state.recordTransfer(QString("IMG_%1.jpg").arg(i), i % 3 ? "uploaded" : "downloaded");
    }
    EXPECT_FALSE(titleLabel.isNull());
    for (const auto &row : rowsBefore)
        EXPECT_FALSE(row.isNull());
    EXPECT_EQ(view.findChildren<RowButton *>().size(), rowsBefore.size());
    // Redrawn a few times a second, not per file: the last state shows soon.
    EXPECT_NE(title(), "Syncing 200 of 200 files · 200 of 200 kB");
    ASSERT_TRUE(testsupport::waitUntil([&] { return title() == "Syncing 200 of 200 files · 200 of 200 kB"; }, "the last progress"));

    const auto recent = visibleRows("recentRow");
    ASSERT_EQ(recent.size(), SyncStatusView::shownRecentFiles);
    for (int i = 0; i < recent.size(); ++i) {
        EXPECT_EQ(recent[i]->findChild<ElidedLabel *>("recentName")->text(), QString("IMG_%1.jpg").arg(200 - i));
        EXPECT_EQ(recent[i]->property("entryId").toString(), state.recentFiles()[i].id.toString());
    }
    // The symbol follows each row's new entry (199 was an upload, 198 a download).
    EXPECT_NE(recent[1]->findChild<QLabel *>("arrow.up.circle.fill"), nullptr);
    EXPECT_NE(recent[2]->findChild<QLabel *>("arrow.down.circle.fill"), nullptr);
    EXPECT_EQ(recent[2]->findChild<QLabel *>("arrow.up.circle.fill"), nullptr);
}

// Files not synced and the mass-removal question: counted, asked, answered
// once.
TEST_F(StatusViewTest, NotSyncedCountAndRemovalQuestion)
{
    state.setIsLoggedIn(true);
    const QString reports = folder("Reports");
    state.addWatchedFolder(reports);
    EXPECT_FALSE(shown("notSyncedButton"));
    state.setNotSyncedFiles(reports, {{reports + "/a/x.txt", reports, "Another file named x.txt is synced"},
                                      {reports + "/secret.txt", reports, "The file cannot be read"}});
    ASSERT_TRUE(shown("notSyncedButton"));
    QSignalSpy listRequested(&view, &SyncStatusView::notSyncedRequested);
    view.findChild<RowButton *>("notSyncedButton")->click();
    EXPECT_EQ(listRequested.count(), 1);
    state.setNotSyncedFiles(reports, {});
    EXPECT_FALSE(shown("notSyncedButton"));

    EXPECT_FALSE(shown("removalQuestions"));
    state.setRemovalQuestions({{reports, 1204}});
    ASSERT_TRUE(shown("removalQuestions"));
    EXPECT_EQ(view.findChild<QLabel *>("removalText")->text(),
              "1,204 files were removed from Reports. Remove them from the server too?");
    QSignalSpy answered(&view, &SyncStatusView::removalAnswered);
    auto *restore = view.findChild<QPushButton *>("restoreButton");
    auto *remove = view.findChild<QPushButton *>("removeButton");
    restore->click();
    remove->click(); // already answered: ignored
    ASSERT_EQ(answered.count(), 1);
    EXPECT_EQ(answered[0], (QVariantList{reports, false}));
    EXPECT_FALSE(remove->isEnabled());

    state.setRemovalQuestions({{reports, 1}});
    EXPECT_EQ(view.findChild<QLabel *>("removalText")->text(),
              "1 file was removed from Reports. Remove them from the server too?");
    view.findChild<QPushButton *>("removeButton")->click();
    EXPECT_EQ(answered.last(), (QVariantList{reports, true}));
    state.setRemovalQuestions({});
    EXPECT_FALSE(shown("removalQuestions"));
}

// A recent file opens itself, or where it was once it is gone; a watched
// folder opens in the file manager; one to be chosen again opens the
// settings instead.
TEST_F(StatusViewTest, RecentFilesAndFoldersOpen)
{
    OpenedUrls opened;
    state.setIsLoggedIn(true);
    const QString reports = folder("Reports");
    const QString missing = folder("Missing");
    state.addWatchedFolder(reports);
    state.addWatchedFolder(missing);
    const QString file = reports + "/sub/plan.txt";
    testsupport::writeFile(file, "plan");
    state.recordTransfer("plan.txt", "downloaded", file);
    state.recordTransfer("old.txt", "uploaded");

    ASSERT_TRUE(testsupport::waitUntil([&] { return visibleRows("recentRow").size() == 2; }, "both recent rows"));
    const auto recent = visibleRows("recentRow");
    recent[0]->click(); // no path known: nothing to open
    recent[1]->click();
    QFile::remove(file);
    QDir(reports + "/sub").removeRecursively();
    recent[1]->click();
    EXPECT_EQ(opened.paths(), (QStringList{file, reports}));

    state.setFolderNeedsChoice(missing, true);
    QSignalSpy settings(&view, &SyncStatusView::settingsRequested);
    QCoreApplication::processEvents(); // rows made in a shown view appear on the next turn
    const auto folders = visibleRows("folderRow");
    ASSERT_EQ(folders.size(), 2);
    folders[0]->click();
    folders[1]->click();
    EXPECT_EQ(opened.paths().last(), reports);
    EXPECT_EQ(settings.count(), 1);

    EXPECT_EQ(locationToOpen(dir.filePath("gone/deeper/still/x.txt")), QDir::cleanPath(dir.path()));
    EXPECT_EQ(locationToOpen(QString()), QString());
}

// The signed-in panel: "Sync Now" off while syncing, and pausing.
TEST_F(StatusViewTest, SignedInPanelActions)
{
    state.setIsLoggedIn(true);
    MenuBarView panel(state);

    auto *syncNow = panel.findChild<QPushButton *>("syncNowButton");
    state.setSyncStatus(SyncStatus::syncing());
    EXPECT_FALSE(syncNow->isEnabled());
    state.setSyncStatus(SyncStatus::error("Invalid credentials"));
    EXPECT_TRUE(syncNow->isEnabled());
    panel.syncNow(); // no engine: nothing happens

    panel.findChild<QPushButton *>("pauseButton")->click();
    EXPECT_TRUE(state.isPaused());

    QSignalSpy listRequested(&panel, &MenuBarView::notSyncedListRequested);
    const QString reports = folder("Reports");
    state.addWatchedFolder(reports);
    state.setNotSyncedFiles(reports, {{reports + "/x", reports, "why"}});
    panel.statusView()->findChild<RowButton *>("notSyncedButton")->click();
    EXPECT_EQ(listRequested.count(), 1);
}

TEST(RelativeTime, WordsForAges)
{
    const QDateTime now(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
    EXPECT_EQ(relativeTimeText(now, now), "now");
    EXPECT_EQ(relativeTimeText(now.addSecs(-1), now), "1 second ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-60), now), "1 minute ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-150), now), "2 minutes ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-3 * 3600 - 59), now), "3 hours ago");
    EXPECT_EQ(relativeTimeText(now.addDays(-13), now), "1 week ago");
    EXPECT_EQ(relativeTimeText(now.addDays(-65), now), "2 months ago");
    EXPECT_EQ(relativeTimeText(now.addDays(-800), now), "2 years ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(300), now), "in 5 minutes");
    EXPECT_EQ(relativeTimeText(QDateTime(), now), "");
}
