#include "state/AppState.h"

#include "platform/Bookmarks.h"
#include "platform/Preferences.h"
#include "state/CredentialStore.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString bookmarksKey = QStringLiteral("watchedFolderBookmarks");
const QString pausedKey = QStringLiteral("syncPaused");

// Two folders are the same folder when their absolute, cleaned paths match.
QString normalizedFolderPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

AppState::AppState(Preferences &preferences, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
{
}

void AppState::setIsLoggedIn(bool value)
{
    if (m_isLoggedIn == value)
        return;
    m_isLoggedIn = value;
    emit isLoggedInChanged();
}

void AppState::setSyncStatus(const SyncStatus &value)
{
    if (m_syncStatus == value)
        return;
    m_syncStatus = value;
    emit syncStatusChanged();
}

void AppState::setUserInfo(const std::optional<UserInfo> &value)
{
    if (m_userInfo == value)
        return;
    m_userInfo = value;
    emit userInfoChanged();
}

void AppState::setWatchedFolders(const QStringList &value)
{
    if (m_watchedFolders == value)
        return;
    m_watchedFolders = value;
    emit watchedFoldersChanged();
}

void AppState::setRecentFiles(const QList<RecentFile> &value)
{
    if (m_recentFiles == value)
        return;
    m_recentFiles = value;
    emit recentFilesChanged();
}

void AppState::recordTransfer(const QString &name, const QString &action, const QString &path)
{
    QList<RecentFile> files = m_recentFiles;
    files.prepend(RecentFile{QUuid::createUuid(), name, action, QDateTime::currentDateTimeUtc(), path});
    if (files.size() > maxRecentFiles)
        files.resize(maxRecentFiles);
    setRecentFiles(files);
}

void AppState::setSyncProgress(const SyncProgress &value)
{
    if (m_syncProgress == value)
        return;
    m_syncProgress = value;
    emit syncProgressChanged();
}

void AppState::setLastSyncTime(const std::optional<QDateTime> &value)
{
    if (m_lastSyncTime == value)
        return;
    m_lastSyncTime = value;
    emit lastSyncTimeChanged();
}

void AppState::setNextSyncTime(const std::optional<QDateTime> &value)
{
    if (m_nextSyncTime == value)
        return;
    m_nextSyncTime = value;
    emit nextSyncTimeChanged();
}

void AppState::setNotSyncedFiles(const QString &folder, const QList<NotSyncedFile> &files)
{
    QList<NotSyncedFile> all;
    for (const NotSyncedFile &file : std::as_const(m_notSyncedFiles))
        if (file.folder != folder)
            all.append(file);
    all.append(files);
    if (all == m_notSyncedFiles)
        return;
    m_notSyncedFiles = all;
    emit notSyncedFilesChanged();
}

void AppState::setFolderNeedsChoice(const QString &folder, bool needsChoice)
{
    if (m_foldersNeedingChoice.contains(folder) == needsChoice)
        return;
    if (needsChoice)
        m_foldersNeedingChoice.append(folder);
    else
        m_foldersNeedingChoice.removeAll(folder);
    emit foldersNeedingChoiceChanged();
}

void AppState::setRemovalQuestions(const QList<RemovalQuestion> &value)
{
    if (m_removalQuestions == value)
        return;
    m_removalQuestions = value;
    emit removalQuestionsChanged();
}

bool AppState::isPaused() const
{
    return m_preferences.doubleValue(pausedKey).value_or(0) != 0;
}

void AppState::setPaused(bool value)
{
    if (isPaused() == value)
        return;
    m_preferences.setDouble(pausedKey, value ? 1 : 0);
    emit isPausedChanged();
}

void AppState::postNotice(const QString &title, const QString &text)
{
    emit notice(title, text);
}

QString AppState::statusText() const
{
    switch (m_syncStatus.kind) {
    case SyncStatus::Kind::idle:
        return QStringLiteral("Synced");
    case SyncStatus::Kind::syncing:
        return QStringLiteral("Syncing...");
    case SyncStatus::Kind::error:
        return QStringLiteral("Error: ") + m_syncStatus.message;
    }
    return {};
}

void AppState::loadSavedState()
{
    const CredentialStore credentials(m_preferences);
    const auto token = credentials.read(QStringLiteral("api_token"));
    if (token && !token->isEmpty()) {
        setIsLoggedIn(true);
        const auto email = credentials.read(QStringLiteral("user_email"));
        const auto name = credentials.read(QStringLiteral("user_name"));
        const auto organization = credentials.read(QStringLiteral("user_org"));
        // Restored details are partial: the id and the names come only from
        // a fresh sign-in.
        if (email && name && organization) {
            UserInfo user;
            user.email = *email;
            user.displayName = *name;
            user.organization = *organization;
            setUserInfo(user);
        }
    }
    loadBookmarks();
}

void AppState::loadBookmarks()
{
    // Absent or malformed (any element not binary data): keep what we have.
    const auto bookmarks = m_preferences.dataArray(bookmarksKey);
    if (!bookmarks)
        return;
    QStringList folders;
    for (const QByteArray &bookmark : *bookmarks) {
        // Stale or unresolvable bookmarks are dropped here but stay stored
        // until the next save, so a folder that comes back is not forgotten
        // merely because it was briefly missing at start.
        const auto resolved = Bookmarks::resolve(bookmark);
        if (!resolved || resolved->isStale)
            continue;
        const QString path = normalizedFolderPath(resolved->path);
        if (folders.contains(path) || folders.size() >= maxWatchedFolders)
            continue;
        Bookmarks::startAccessing(path);
        folders.append(path);
    }
    setWatchedFolders(folders);
}

void AppState::saveBookmarks()
{
    QList<QByteArray> bookmarks;
    for (const QString &folder : std::as_const(m_watchedFolders)) {
        // A folder without a bookmark stays watched for this run only.
        if (const auto bookmark = Bookmarks::create(folder))
            bookmarks.append(*bookmark);
    }
    m_preferences.setDataArray(bookmarksKey, bookmarks);
}

void AppState::addWatchedFolder(const QString &folderPath)
{
    // An empty path names no folder (and would otherwise become the
    // current directory).
    if (folderPath.isEmpty())
        return;
    const QString path = normalizedFolderPath(folderPath);
    if (m_watchedFolders.size() >= maxWatchedFolders || m_watchedFolders.contains(path))
        return;
    setWatchedFolders(m_watchedFolders + QStringList{path});
    saveBookmarks();
}

void AppState::removeWatchedFolder(int index)
{
    if (index < 0 || index >= m_watchedFolders.size())
        return;
    Bookmarks::stopAccessing(m_watchedFolders.at(index));
    QStringList folders = m_watchedFolders;
    folders.removeAt(index);
    setWatchedFolders(folders);
    saveBookmarks();
}

bool AppState::replaceWatchedFolder(int index, const QString &newPath)
{
    if (index < 0 || index >= m_watchedFolders.size() || newPath.isEmpty())
        return false;
    const QString path = normalizedFolderPath(newPath);
    const QString old = m_watchedFolders.at(index);
    if (path != old && m_watchedFolders.contains(path))
        return false;
    if (path != old) {
        Bookmarks::stopAccessing(old);
        Bookmarks::startAccessing(path);
        QStringList folders = m_watchedFolders;
        folders[index] = path;
        setWatchedFolders(folders);
    }
    setFolderNeedsChoice(old, false);
    setFolderNeedsChoice(path, false);
    saveBookmarks();
    return true;
}
