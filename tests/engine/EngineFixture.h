#pragma once

#include "api/APIClient.h"
#include "platform/Logging.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"

#include <QDirIterator>
#include <memory>

// Every file below the Trash's files folder, by name.
inline QStringList trashedNames(const testsupport::TempHome &home)
{
    QStringList names;
    QDirIterator it(home.filePath("data/Trash/files"), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        names << QFileInfo(it.next()).fileName();
    return names;
}

inline QStringList conflictCopies(const QString &folder, const QString &stem = QString())
{
    return QDir(folder).entryList({stem + "*(conflicted copy *"}, QDir::Files);
}

// Another computer on the same account: its own preferences, state file,
// client, folder and engine; `name` tells its files apart.
struct OtherComputer {
    OtherComputer(testsupport::TempHome &home, const QString &baseURL, const QString &token, const QString &folder,
                  const QString &name)
        : preferences(home.filePath(name + "-preferences.json")), appState(preferences), client(preferences),
          statePath(home.filePath(name + "-state/sync_state.json"))
    {
        client.setBaseURL(baseURL);
        client.setToken(token);
        appState.setIsLoggedIn(true);
        QDir().mkpath(folder);
        appState.setWatchedFolders({folder});
        restart();
    }
    // Quit and start again: what the engine holds is written on the way out.
    void restart()
    {
        engine.reset();
        engine = std::make_unique<SyncEngine>(client, appState, statePath);
        engine->compactAfterChanges = 1; // under every scenario, not only large ones
    }
    void syncOk()
    {
        testsupport::run(engine->performSync());
        ASSERT_EQ(appState.syncStatus(), SyncStatus::idle()) << appState.syncStatus().message.toStdString();
    }
    const SyncState &state() const { return engine->syncState(); }
    Preferences preferences;
    AppState appState;
    APIClient client;
    QString statePath;
    std::unique_ptr<SyncEngine> engine;
};

// A signed-in application state, a client of a development server on
// loopback, real folders in a temporary directory and an engine over them.
class EngineFixture : public testing::Test {
protected:
    static constexpr const char *email = testsupport::RunningServer::email;

    void SetUp() override
    {
        preferences = std::make_unique<Preferences>(home.preferencesPath());
        appState = std::make_unique<AppState>(*preferences);
        client = std::make_unique<APIClient>(*preferences);
        client->setBaseURL(running.baseURL);
        client->setToken(QString::fromStdString(running.server.issueToken(email)));
        appState->setIsLoggedIn(true);
        QObject::connect(appState.get(), &AppState::notice,
                         [this](const QString &title, const QString &text, const QString &folder) {
                             notices.append({title, text, folder});
                         });
        engine = makeEngine();
    }

    std::unique_ptr<SyncEngine> makeEngine()
    {
        auto made = std::make_unique<SyncEngine>(*client, *appState, home.stateFilePath());
        made->compactAfterChanges = 1; // under every scenario, not only large ones
        return made;
    }

    QString watch(const QString &relative)
    {
        const QString path = QDir::cleanPath(area.filePath(relative));
        QDir().mkpath(path);
        appState->setWatchedFolders(appState->watchedFolders() << path);
        return path;
    }
    // Its folder has the same name, so it syncs with the same server folder.
    std::unique_ptr<OtherComputer> otherComputer(const QString &relative = "Other/Docs")
    {
        return std::make_unique<OtherComputer>(home, running.baseURL, *client->token(), area.filePath(relative), "other");
    }

    void sync() { testsupport::run(engine->performSync()); }
    void syncOk()
    {
        sync();
        ASSERT_EQ(appState->syncStatus(), SyncStatus::idle()) << appState->syncStatus().message.toStdString();
    }
    // Runs a pass that goes well; its uploads plus download links asked for.
    int transfersOfPass()
    {
        running.server.clearRequests();
        syncOk();
        return transferRequests();
    }

    int64_t serverFolderOf(const QString &folder) const
    {
        return engine->syncState().folderMappings.value(folder, -1);
    }
    std::map<std::string, DevServer::Document> documentsOf(const QString &folder) const
    {
        std::map<std::string, DevServer::Document> byName;
        for (const auto &document : running.server.documents(serverFolderOf(folder)))
            byName[document.name] = document;
        return byName;
    }
    std::string serverContent(const QString &folder, const std::string &name) const
    {
        const auto documents = documentsOf(folder);
        const auto found = documents.find(name);
        return found == documents.end() ? "<absent>" : running.server.content(found->second.id).value_or("");
    }
    int64_t putDocument(const QString &folder, const std::string &name, const std::string &content,
                        std::optional<std::string> updatedAt = std::nullopt)
    {
        return running.server.putDocument(email, serverFolderOf(folder), name, content, std::move(updatedAt));
    }

    int requestCount(const std::string &method, const std::string &pathPrefix) const
    {
        int count = 0;
        for (const auto &request : running.server.requests())
            count += request.method == method && request.path.rfind(pathPrefix, 0) == 0;
        return count;
    }
    int deletions() const { return requestCount("DELETE", "/api/v1/documents/"); }
    int uploads() const { return requestCount("POST", "/api/v1/documents"); }
    // Uploads plus download links asked for.
    int transferRequests() const { return uploads() + requestCount("GET", "/api/v1/documents/"); }
    // Index of the first (or last) request matching, -1 when none.
    int requestIndex(const std::string &method, const std::string &pathPrefix, bool last) const
    {
        const auto requests = running.server.requests();
        int found = -1;
        for (int i = 0; i < int(requests.size()); ++i)
            if (requests[i].method == method && requests[i].path.rfind(pathPrefix, 0) == 0 && (last || found < 0))
                found = i;
        return found;
    }
    // Starts a pass and returns it once the server has seen a request
    // matching; `meanwhile` then acts while the pass is under way.
    QCoro::Task<void> passUntil(const std::string &method, const std::string &pathPrefix)
    {
        QCoro::Task<void> pass = engine->performSync();
        EXPECT_TRUE(testsupport::waitUntil([&] { return requestCount(method, pathPrefix) > 0; },
                                           method + " " + pathPrefix + " during the pass"));
        return pass;
    }

    QStringList notSyncedPaths() const
    {
        QStringList paths;
        for (const NotSyncedFile &file : appState->notSyncedFiles())
            paths.append(file.path);
        return paths;
    }
    QString notSyncedReason(const QString &path) const
    {
        for (const NotSyncedFile &file : appState->notSyncedFiles())
            if (file.path == path)
                return file.reason;
        return {};
    }

    static void setModified(const QString &path, const QDateTime &time)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime));
    }
    // What each tracked file was agreed with (its facts may be refreshed by
    // a file read again within its clock's resolution).
    static std::map<QString, std::pair<qint64, QString>> agreements(const SyncState &state)
    {
        std::map<QString, std::pair<qint64, QString>> byPath;
        for (auto it = state.trackedFiles.cbegin(); it != state.trackedFiles.cend(); ++it)
            byPath[it.key()] = {it->remoteId, it->localHash.toString()};
        return byPath;
    }
    static QDateTime utc(const char *text) { return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate); }
    static void writeFiles(const QString &folder, const QStringList &names, const QByteArray &content)
    {
        for (const QString &name : names)
            testsupport::writeFile(folder + "/" + name, content);
    }
    static QStringList numbered(int count, const QString &pattern = QStringLiteral("f%1.txt"))
    {
        QStringList names;
        for (int i = 0; i < count; ++i)
            names << pattern.arg(i);
        return names;
    }

    testsupport::LogCapture log{&lcSyncEngine()};
    testsupport::TempHome home;
    testsupport::RunningServer running;
    QTemporaryDir area;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<APIClient> client;
    std::unique_ptr<SyncEngine> engine;
    QList<QStringList> notices; // title, text, folder
};
