#include "state/AppState.h"

#include "platform/Bookmarks.h"
#include "platform/Preferences.h"
#include "state/CredentialStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString bookmarksKey = QStringLiteral("watchedFolderBookmarks");
const QString pausedKey = QStringLiteral("syncPaused");
const QString recentFilesKey = QStringLiteral("recentFiles");
constexpr int recentFilesSaveDelayMs = 1000;

// Two folders are the same folder when their absolute, cleaned paths match.
QString normalizedFolderPath(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// One recent entry as compact JSON:
// {"id":"{...}","name":"a.txt","action":"uploaded","timestamp":"2026-12-07T12:00:00.000Z","path":"/home/me/a.txt"}
QByteArray encodeRecentFile(const RecentFile &file)
{
    const QJsonObject object{{QStringLiteral("id"), file.id.toString()},
                             {QStringLiteral("name"), file.name},
                             {QStringLiteral("action"), file.action},
                             {QStringLiteral("timestamp"), file.timestamp.toUTC().toString(Qt::ISODateWithMs)},
                             {QStringLiteral("path"), file.path}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Absent for an entry that is not such an object or lacks a name or a
// valid time: the list shows what it can and drops the rest.
std::optional<RecentFile> decodeRecentFile(const QByteArray &data)
{
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    RecentFile file;
    file.id = QUuid::fromString(object.value(QStringLiteral("id")).toString());
    file.name = object.value(QStringLiteral("name")).toString();
    file.action = object.value(QStringLiteral("action")).toString();
    file.timestamp = QDateTime::fromString(object.value(QStringLiteral("timestamp")).toString(), Qt::ISODateWithMs);
    file.path = object.value(QStringLiteral("path")).toString();
    if (file.name.isEmpty() || !file.timestamp.isValid())
        return std::nullopt;
    if (file.id.isNull())
        file.id = QUuid::createUuid();
    return file;
}

// Whether `inner` is `outer` or lies below it.
bool liesWithin(const QString &inner, const QString &outer)
{
    if (inner.isEmpty() || outer.isEmpty())
        return false;
    const QString prefix = outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/');
    return inner == outer || inner.startsWith(prefix);
}

// The paths by which a folder is reached: as written, and (where it exists)
// with its links resolved, so that a link into a watched folder is caught.
QStringList spellings(const QString &path)
{
    QStringList paths{path};
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty() && canonical != path)
        paths.append(canonical);
    return paths;
}

// Why `path` cannot be watched beside `other`; none when they are apart.
std::optional<QString> overlap(const QString &path, const QString &other)
{
    for (const QString &a : spellings(path)) {
        for (const QString &b : spellings(other)) {
            if (a == b)
                return QCoreApplication::translate("AppState", "%1 is the watched folder %2.").arg(path, other);
            if (liesWithin(a, b))
                return QCoreApplication::translate("AppState", "%1 lies inside the watched folder %2; a folder inside a "
                                                       "watched folder is already synced with it.")
                    .arg(path, other);
            if (liesWithin(b, a))
                return QCoreApplication::translate("AppState",
                                                  "%1 holds the watched folder %2; remove %2 first to watch the folder "
                                                  "around it.")
                    .arg(path, other);
        }
    }
    return std::nullopt;
}

} // namespace

AppState::AppState(Preferences &preferences, QObject *parent)
    : QObject(parent)
    , m_preferences(preferences)
{
    m_recentFilesSave.setSingleShot(true);
    m_recentFilesSave.setInterval(recentFilesSaveDelayMs);
    connect(&m_recentFilesSave, &QTimer::timeout, this, &AppState::saveRecentFiles);
}

AppState::~AppState()
{
    if (m_recentFilesSave.isActive())
        saveRecentFiles();
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
    m_recentFilesSave.start();
    emit recentFilesChanged();
}

void AppState::saveRecentFiles()
{
    m_recentFilesSave.stop();
    QList<QByteArray> entries;
    for (const RecentFile &file : std::as_const(m_recentFiles))
        entries.append(encodeRecentFile(file));
    m_preferences.setDataArray(recentFilesKey, entries);
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

void AppState::setSessionRejected(bool value)
{
    if (m_sessionRejected == value)
        return;
    m_sessionRejected = value;
    emit sessionRejectedChanged();
}

void AppState::setOffline(bool value)
{
    if (m_isOffline == value)
        return;
    m_isOffline = value;
    emit isOfflineChanged();
}

void AppState::postNotice(const QString &title, const QString &text, const QString &folder)
{
    emit notice(title, text, folder);
}

QString AppState::statusText() const
{
    switch (m_syncStatus.kind) {
    case SyncStatus::Kind::idle:
        return QCoreApplication::translate("AppState", "Synced");
    case SyncStatus::Kind::syncing:
        return QCoreApplication::translate("AppState", "Syncing...");
    case SyncStatus::Kind::error:
        return QCoreApplication::translate("AppState", "Error: %1").arg(m_syncStatus.message);
    }
    return {};
}

std::optional<QString> AppState::loadSavedState()
{
    const CredentialStore credentials(m_preferences);
    const std::optional<QString> token = CredentialStore::loadToken(m_preferences);
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

    if (m_recentFiles.isEmpty()) {
        QList<RecentFile> files;
        for (const QByteArray &data : m_preferences.dataArray(recentFilesKey).value_or(QList<QByteArray>{})) {
            if (const auto file = decodeRecentFile(data); file && files.size() < maxRecentFiles)
                files.append(*file);
        }
        if (files != m_recentFiles) {
            m_recentFiles = files;
            emit recentFilesChanged();
        }
    }
    return token;
}

void AppState::loadBookmarks()
{
    // Absent or malformed (any element not binary data): keep what we have.
    const auto bookmarks = m_preferences.dataArray(bookmarksKey);
    if (!bookmarks)
        return;
    QStringList folders;
    bool changed = false;
    for (const QByteArray &bookmark : *bookmarks) {
        const auto recorded = Bookmarks::read(bookmark);
        if (!recorded)
            continue;
        const QString path = normalizedFolderPath(recorded->path);
        if (folders.contains(path) || folders.size() >= maxWatchedFolders)
            continue;
        // A missing or replaced folder stays in the list, marked, so that
        // nothing of it is synced until it is back or chosen again; so does
        // one of a nested pair stored before such pairs were refused.
        const auto resolved = Bookmarks::resolve(bookmark);
        bool nested = false;
        for (const QString &earlier : std::as_const(folders))
            nested = nested || overlap(path, earlier).has_value();
        setFolderNeedsChoice(path, !resolved || resolved->isStale || nested);
        QByteArray kept = bookmark;
        if (resolved && !resolved->isStale && !resolved->markedOnFolder) {
            // A bookmark from before marks were kept gets one now, while the
            // folder is still the chosen one; one from before it was said
            // whether the mark is on the folder says so now, when it is.
            // (A remounted folder's new identity is recorded by the pass
            // that meets it.)
            const auto renewed = resolved->mark.isEmpty() ? Bookmarks::create(path)
                                 : resolved->current == resolved->identity ? Bookmarks::create(path, resolved->mark)
                                                                           : std::nullopt;
            if (renewed && *renewed != bookmark) {
                kept = *renewed;
                changed = true;
            }
        }
        Bookmarks::startAccessing(path);
        m_bookmarks.insert(path, kept);
        folders.append(path);
    }
    setWatchedFolders(folders);
    if (changed)
        saveBookmarks();
}

void AppState::saveBookmarks()
{
    QList<QByteArray> bookmarks;
    for (const QString &folder : std::as_const(m_watchedFolders)) {
        // A folder keeps the bookmark it was chosen with; a folder without
        // one gets one now, or stays watched for this run only.
        if (!m_bookmarks.contains(folder)) {
            if (const auto bookmark = Bookmarks::create(folder))
                m_bookmarks.insert(folder, *bookmark);
            else
                continue;
        }
        bookmarks.append(m_bookmarks.value(folder));
    }
    m_preferences.setDataArray(bookmarksKey, bookmarks);
}

std::optional<Bookmarks::Resolved> AppState::watchedFolderBookmark(const QString &folderPath) const
{
    const auto bookmark = m_bookmarks.constFind(folderPath);
    if (bookmark == m_bookmarks.cend())
        return std::nullopt;
    return Bookmarks::read(*bookmark);
}

void AppState::updateWatchedFolderIdentity(const QString &folderPath, const FolderIdentity &identity)
{
    const auto recorded = Bookmarks::read(m_bookmarks.value(folderPath));
    if (!recorded || recorded->identity == identity)
        return;
    const auto renewed = Bookmarks::create(folderPath, recorded->mark);
    const auto made = renewed ? Bookmarks::read(*renewed) : std::nullopt;
    // Recorded only when the folder at the path is still that one.
    if (!made || made->identity != identity)
        return;
    m_bookmarks.insert(folderPath, *renewed);
    saveBookmarks();
}

std::optional<QString> AppState::folderRefusal(const QString &folderPath, int replacing) const
{
    const QString path = normalizedFolderPath(folderPath);
    for (int index = 0; index < m_watchedFolders.size(); ++index) {
        if (index == replacing)
            continue;
        if (auto reason = overlap(path, m_watchedFolders.at(index)))
            return reason;
    }
    return std::nullopt;
}

std::optional<QString> AppState::overlappingFolder(const QString &folderPath) const
{
    for (const QString &earlier : m_watchedFolders) {
        if (earlier == folderPath)
            break;
        if (overlap(folderPath, earlier))
            return earlier;
    }
    return std::nullopt;
}

bool AppState::addWatchedFolder(const QString &folderPath)
{
    // An empty path names no folder (and would otherwise become the
    // current directory).
    if (folderPath.isEmpty())
        return false;
    const QString path = normalizedFolderPath(folderPath);
    if (m_watchedFolders.size() >= maxWatchedFolders || m_watchedFolders.contains(path) || folderRefusal(path))
        return false;
    setWatchedFolders(m_watchedFolders + QStringList{path});
    saveBookmarks();
    emit folderChosen(path);
    return true;
}

void AppState::removeWatchedFolder(int index)
{
    if (index < 0 || index >= m_watchedFolders.size())
        return;
    Bookmarks::stopAccessing(m_watchedFolders.at(index));
    m_bookmarks.remove(m_watchedFolders.at(index));
    const QString removed = m_watchedFolders.at(index);
    setFolderNeedsChoice(removed, false);
    // What was said of the folder goes with it: its files left out and a
    // question about it no longer hold the status back.
    setNotSyncedFiles(removed, {});
    QList<RemovalQuestion> questions = m_removalQuestions;
    questions.removeIf([&](const RemovalQuestion &question) { return question.folder == removed; });
    setRemovalQuestions(questions);
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
    if ((path != old && m_watchedFolders.contains(path)) || folderRefusal(path, index))
        return false;
    if (path != old) {
        Bookmarks::stopAccessing(old);
        Bookmarks::startAccessing(path);
        QStringList folders = m_watchedFolders;
        folders[index] = path;
        setWatchedFolders(folders);
    }
    // The folder chosen now is the one to sync from here on, even at the
    // same path: its bookmark is made afresh.
    m_bookmarks.remove(old);
    m_bookmarks.remove(path);
    setFolderNeedsChoice(old, false);
    setFolderNeedsChoice(path, false);
    saveBookmarks();
    emit folderChosen(path);
    return true;
}
