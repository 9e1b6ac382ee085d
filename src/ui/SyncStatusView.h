#pragma once

#include <QDateTime>
#include <QList>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class AppState;
class ElidedLabel;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;
class RowButton;

// The middle block of the signed-in panel: the status (dot, title, detail,
// progress), "Add Folder..." when nothing is watched, the count of files
// not synced, waiting removal questions, the watched folders and the five
// newest transfers. Widgets are made once and updated in place, so a long
// sync changes a few texts per finished file and never rebuilds the block.
// Folders and recent files open on a click.
class SyncStatusView : public QWidget {
    Q_OBJECT
public:
    static constexpr int shownRecentFiles = 5;

    explicit SyncStatusView(AppState &appState, QWidget *parent = nullptr);

    // Redraws the times in words ("2 minutes ago") against the clock.
    void refreshAges();

signals:
    // A folder that must be chosen again was clicked.
    void settingsRequested();
    // "Add Folder..." was clicked.
    void addFolderRequested();
    void notSyncedRequested();
    // "Sign In..." after the server refused the session.
    void signInRequested();
    void removalAnswered(const QString &folder, bool remove);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildStatusBlock();
    void buildRecentBlock();
    void refreshStatus();
    void refreshNotSynced();
    void rebuildQuestions();
    void rebuildFolders();
    void refreshRecent();
    // Progress and the recent files change with every file of a long pass:
    // the panel follows them at most a few times a second (at once after a
    // quiet spell, else when the interval since the last redraw is up).
    void redrawSoon(bool status, bool recent);
    void redrawStale();

    AppState &m_appState;
    QVBoxLayout *m_layout;
    QTimer m_ageTimer;
    QTimer m_redrawTimer;
    QElapsedTimer m_lastRedraw;
    bool m_statusStale = false;
    bool m_recentStale = false;

    class StatusDot *m_dot = nullptr;
    QLabel *m_title = nullptr;
    ElidedLabel *m_detail = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_addFolder = nullptr;
    QPushButton *m_signInAgain = nullptr;
    RowButton *m_notSynced = nullptr;
    QLabel *m_notSyncedText = nullptr;
    QWidget *m_questions = nullptr;
    QWidget *m_folders = nullptr;
    QWidget *m_recent = nullptr;

    struct RecentRow {
        RowButton *row;
        QLabel *symbol;
        ElidedLabel *name;
        QLabel *age;
        QString action;
        QDateTime timestamp;
        QString path;
    };
    QList<RecentRow> m_recentRows;
};
