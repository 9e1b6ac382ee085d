#pragma once

#include "api/Records.h"
#include "state/SyncStatus.h"

#include <QList>
#include <QObject>
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

    QList<RecentFile> recentFiles() const { return m_recentFiles; }
    void setRecentFiles(const QList<RecentFile> &value);
    // Inserts a fresh entry at the front and keeps the newest ten.
    void recordTransfer(const QString &name, const QString &action);

    QString statusText() const;

    void loadSavedState();
    void loadBookmarks();
    void saveBookmarks();
    void addWatchedFolder(const QString &folderPath);
    void removeWatchedFolder(int index);

signals:
    void isLoggedInChanged();
    void syncStatusChanged();
    void userInfoChanged();
    void watchedFoldersChanged();
    void recentFilesChanged();

private:
    Preferences &m_preferences;
    bool m_isLoggedIn = false;
    SyncStatus m_syncStatus;
    std::optional<UserInfo> m_userInfo;
    QStringList m_watchedFolders;
    QList<RecentFile> m_recentFiles;
};
