#include "platform/Preferences.h"
#include "state/AppState.h"
#include "support/TestSupport.h"
#include "ui/ElidedLabel.h"
#include "ui/MenuBarView.h"
#include "ui/RelativeTime.h"
#include "ui/SyncStatusView.h"

#include <QFrame>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class StatusViewTest : public ::testing::Test {
protected:
    StatusViewTest() : state(preferences) {}

    QList<QWidget *> rows(const char *name)
    {
        QList<QWidget *> result;
        for (QWidget *child : view.findChildren<QWidget *>(name, Qt::FindDirectChildrenOnly))
            result << child;
        return result;
    }
    int dividers()
    {
        int count = 0;
        for (QFrame *frame : view.findChildren<QFrame *>(Qt::FindDirectChildrenOnly))
            count += frame->frameShape() == QFrame::HLine ? 1 : 0;
        return count;
    }

    testsupport::TempHome home;
    Preferences preferences;
    AppState state;
    SyncStatusView view{state};
};

} // namespace

TEST_F(StatusViewTest, StatusLineAloneWhenNothingElse)
{
    EXPECT_EQ(view.findChild<ElidedLabel *>("statusText")->text(), "Synced");
    EXPECT_EQ(view.findChild<QWidget *>("statusDot")->property("tint").toString(), "#30b050");
    EXPECT_EQ(dividers(), 0);
    EXPECT_EQ(view.findChild<QLabel *>("recentHeading"), nullptr);

    state.setSyncStatus(SyncStatus::error("Invalid credentials"));
    EXPECT_EQ(view.findChild<ElidedLabel *>("statusText")->text(), "Error: Invalid credentials");
    EXPECT_EQ(view.findChild<QWidget *>("statusDot")->property("tint").toString(), "#e0322b");
    state.setSyncStatus(SyncStatus::syncing());
    EXPECT_EQ(view.findChild<ElidedLabel *>("statusText")->text(), "Syncing...");
    EXPECT_EQ(view.findChild<QWidget *>("statusDot")->property("tint").toString(), "#0a84ff");
}

// Folders by name (two with the same name are two rows), then the five
// newest of seven entries with their direction symbols and ages.
TEST_F(StatusViewTest, FoldersAndFirstFiveRecentEntries)
{
    QTemporaryDir dir;
    for (const char *path : {"a/Shared", "b/Shared"}) {
        QDir().mkpath(dir.filePath(path));
        state.addWatchedFolder(dir.filePath(path));
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<RecentFile> entries;
    const QStringList actions{"uploaded", "downloaded", "renamed", "uploaded", "Uploaded", "uploaded", "uploaded"};
    for (int i = 0; i < actions.size(); ++i)
        entries << RecentFile{QUuid::createUuid(), QString("file%1.txt").arg(i), actions[i], now.addSecs(-120 * (i + 1))};
    state.setRecentFiles(entries);

    const auto folders = rows("folderRow");
    ASSERT_EQ(folders.size(), 2);
    EXPECT_EQ(folders[0]->findChild<ElidedLabel *>("folderName")->text(), "Shared");
    EXPECT_EQ(folders[1]->findChild<ElidedLabel *>("folderName")->text(), "Shared");
    EXPECT_EQ(dividers(), 2);

    const auto recent = rows("recentRow");
    ASSERT_EQ(recent.size(), SyncStatusView::shownRecentFiles);
    const QStringList symbols{"arrow.up.circle.fill", "arrow.down.circle.fill", "arrow.triangle.2.circlepath",
                              "arrow.up.circle.fill", "arrow.triangle.2.circlepath"};
    const QStringList tints{"#0a84ff", "#30b050", "#f58a07", "#0a84ff", "#f58a07"};
    for (int i = 0; i < recent.size(); ++i) {
        EXPECT_EQ(recent[i]->property("entryId").toString(), entries[i].id.toString());
        EXPECT_EQ(recent[i]->findChild<ElidedLabel *>("recentName")->text(), entries[i].name);
        QLabel *symbol = recent[i]->findChild<QLabel *>(symbols[i]);
        ASSERT_NE(symbol, nullptr) << i;
        EXPECT_EQ(symbol->property("tint").toString(), tints[i]) << i;
        EXPECT_EQ(recent[i]->findChild<QLabel *>("recentAge")->text(), QString("%1 minutes ago").arg(2 * (i + 1)));
    }
}

// Long names are cut to one line and the panel stays 280 wide.
TEST_F(StatusViewTest, LongNamesKeepThePanelWidth)
{
    state.setIsLoggedIn(true);
    MenuBarView panel(state);
    state.recordTransfer(QString(200, 'x') + ".txt", "uploaded");
    state.setSyncStatus(SyncStatus::error(QString("The server answered with a very long message ").repeated(4)));
    panel.show();
    panel.adjustSize();
    EXPECT_EQ(panel.width(), MenuBarView::panelWidth);
    auto *name = panel.statusView()->findChild<ElidedLabel *>("recentName");
    ASSERT_NE(name, nullptr);
    EXPECT_TRUE(name->isElided());
    EXPECT_LE(name->geometry().right(), MenuBarView::panelWidth);
    EXPECT_TRUE(panel.statusView()->findChild<ElidedLabel *>("statusText")->isElided());
}

TEST(RelativeTime, WordsForAges)
{
    const QDateTime now(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
    EXPECT_EQ(relativeTimeText(now, now), "now");
    EXPECT_EQ(relativeTimeText(now.addSecs(-1), now), "1 second ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-59), now), "59 seconds ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-60), now), "1 minute ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-150), now), "2 minutes ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-3 * 3600 - 59), now), "3 hours ago");
    EXPECT_EQ(relativeTimeText(now.addDays(-1), now), "1 day ago");
    EXPECT_EQ(relativeTimeText(now.addDays(-13), now), "1 week ago");
    EXPECT_EQ(relativeTimeText(now.addDays(-65), now), "2 months ago");
    EXPECT_EQ(relativeTimeText(now.addDays(-800), now), "2 years ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(300), now), "in 5 minutes");
    EXPECT_EQ(relativeTimeText(QDateTime(), now), "");
}
