#pragma once

#include "api/Records.h"
#include "platform/Bookmarks.h"
#include "state/SyncActivity.h"
#include "state/SyncStatus.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <QList>
#include <QObject>
#include <QTimer>
#include <QStringList>
#include <optional>

class Preferences;

// The one observable application state. Each property has its own change
// signal, emitted only when the value actually changes. Watched folders are
// absolute, cleaned paths (no trailing slash).
class AppState : public QObject {
    Q_OBJECT
public:
    static constexpr int maxWatchedFolders = 5;
    static constexpr int maxRecentFiles = 10;

    explicit AppState(Preferences &preferences, QObject *parent = nullptr);
    // Writes a recent list still waiting to be saved.
    ~AppState() override;

    Preferences &preferences() const { return m_preferences; }

    bool isLoggedIn() const { return m_isLoggedIn; }
    void setIsLoggedIn(bool value);

    SyncStatus syncStatus() const { return m_syncStatus; }
    void setSyncStatus(const SyncStatus &value);

    std::optional<UserInfo> userInfo() const { return m_userInfo; }
    void setUserInfo(const std::optional<UserInfo> &value);

    QStringList watchedFolders() const { return m_watchedFolders; }
    // Only for the sign-out flow, which empties the list without touching
    // the stored bookmarks.
    void setWatchedFolders(const QStringList &value);

    // Kept in the preferences ("recentFiles"), so that the list survives a
    // restart; saved shortly after a change, so that a burst of transfers
    // costs one write.
    QList<RecentFile> recentFiles() const { return m_recentFiles; }
    void setRecentFiles(const QList<RecentFile> &value);
    void saveRecentFiles();
    // Inserts a fresh entry at the front and keeps the newest ten.
    void recordTransfer(const QString &name, const QString &action, const QString &path = QString());

    QString statusText() const;

    // Progress of the running pass (all zero between passes).
    SyncProgress syncProgress() const { return m_syncProgress; }
    void setSyncProgress(const SyncProgress &value);

    // When the last pass ended well, and when the next timed pass is due.
    std::optional<QDateTime> lastSyncTime() const { return m_lastSyncTime; }
    void setLastSyncTime(const std::optional<QDateTime> &value);
    std::optional<QDateTime> nextSyncTime() const { return m_nextSyncTime; }
    void setNextSyncTime(const std::optional<QDateTime> &value);

    // Files that the sync leaves alone, of every watched folder; each pass
    // replaces its folder's list.
    QList<NotSyncedFile> notSyncedFiles() const { return m_notSyncedFiles; }
    void setNotSyncedFiles(const QString &folder, const QList<NotSyncedFile> &files);

    // Watched folders that are missing or were replaced by another folder at
    // the same path: they are not synced until chosen again.
    QStringList foldersNeedingChoice() const { return m_foldersNeedingChoice; }
    void setFolderNeedsChoice(const QString &folder, bool needsChoice);

    // Mass-removal questions waiting for the user (answered through the engine).
    QList<RemovalQuestion> removalQuestions() const { return m_removalQuestions; }
    void setRemovalQuestions(const QList<RemovalQuestion> &value);

    // Paused: timed and watched passes do not run. Kept in the preferences
    // ("syncPaused").
    bool isPaused() const;
    void setPaused(bool value);

    // The server refused the stored session (signed out elsewhere, or
    // expired): syncing waits until the user signs in again.
    bool sessionRejected() const { return m_sessionRejected; }
    void setSessionRejected(bool value);

    // The system says this computer has no network: timed and watched
    // passes wait, and the status says "Offline" rather than repeating a
    // failure to connect. Never set where the system cannot tell.
    bool isOffline() const { return m_isOffline; }
    void setOffline(bool value);

    // Something the user should hear about even with the panel closed (a
    // conflict copy made, files moved to the Trash, a question waiting).
    // `folder`, when given, is the watched folder the notice is about (what
    // its actions open or answer).
    void postNotice(const QString &title, const QString &text, const QString &folder = QString());

    // Sign-in state, user, watched folders and, when none are held yet, the
    // recent list. Returns the stored token, for the client (read from the
    // keyring, this waits for it: for the start only).
    std::optional<QString> loadSavedState();
    void loadBookmarks();
    void saveBookmarks();
    // False (nothing changed) for an empty path, a sixth folder, one
    // already watched, or one that folderRefusal() refuses.
    bool addWatchedFolder(const QString &folderPath);
    // Why the folder at `folderPath` cannot be watched beside the others
    // (the one at `replacing` left out): it lies inside a watched folder,
    // or holds one. A file would otherwise belong to two folders, and each
    // folder's pass would take the other's files for deleted ones.
    std::optional<QString> folderRefusal(const QString &folderPath, int replacing = -1) const;
    // The watched folder listed before `folderPath` that holds it or lies
    // inside it: such a pair was stored before it was refused, and the later
    // folder is not synced until chosen again.
    std::optional<QString> overlappingFolder(const QString &folderPath) const;
    // The folder the user chose at that path, as its bookmark recorded it
    // (its mark is new each time the folder is chosen); none for a folder
    // that has no bookmark.
    std::optional<Bookmarks::Resolved> watchedFolderBookmark(const QString &folderPath) const;
    // The chosen folder now has this identity (its drive was mounted again
    // and the folder still carries its mark): the bookmark records it.
    void updateWatchedFolderIdentity(const QString &folderPath, const FolderIdentity &identity);
    void removeWatchedFolder(int index);
    // The folder at `index` chosen again (the same path once more, or
    // another): it takes the old one's place, no longer needs a choice, and
    // the bookmarks are saved. False when `newPath` is empty, is another
    // watched folder, or folderRefusal() refuses it.
    bool replaceWatchedFolder(int index, const QString &newPath);

signals:
    void isLoggedInChanged();
    void syncStatusChanged();
    void userInfoChanged();
    void watchedFoldersChanged();
    void recentFilesChanged();
    void syncProgressChanged();
    void lastSyncTimeChanged();
    void nextSyncTimeChanged();
    void notSyncedFilesChanged();
    void foldersNeedingChoiceChanged();
    void removalQuestionsChanged();
    void isPausedChanged();
    void sessionRejectedChanged();
    void isOfflineChanged();
    // A folder was added, or chosen again at the same or another path: its
    // first pass is due at once.
    void folderChosen(const QString &folderPath);
    void notice(const QString &title, const QString &text, const QString &folder);

private:
    Preferences &m_preferences;
    bool m_isLoggedIn = false;
    SyncStatus m_syncStatus;
    std::optional<UserInfo> m_userInfo;
    QStringList m_watchedFolders;
    QList<RecentFile> m_recentFiles;
    SyncProgress m_syncProgress;
    std::optional<QDateTime> m_lastSyncTime;
    std::optional<QDateTime> m_nextSyncTime;
    QList<NotSyncedFile> m_notSyncedFiles;
    QStringList m_foldersNeedingChoice;
    QList<RemovalQuestion> m_removalQuestions;
    bool m_sessionRejected = false;
    bool m_isOffline = false;
    // The bookmark of each watched folder, kept as read or made: a folder
    // replaced since is not silently taken for the chosen one.
    QHash<QString, QByteArray> m_bookmarks;
    QTimer m_recentFilesSave;
};
