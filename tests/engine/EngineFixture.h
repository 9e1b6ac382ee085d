#pragma once

#include "api/APIClient.h"
#include "platform/Logging.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
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

inline QStringList conflictCopies(const QString &folder)
{
    return QDir(folder).entryList({"*(conflicted copy *"}, QDir::Files);
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
    }
    void syncOk()
    {
        testsupport::run(engine->performSync());
        ASSERT_EQ(appState.syncStatus(), SyncStatus::idle()) << appState.syncStatus().message.toStdString();
    }
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
        engine = makeEngine();
    }

    std::unique_ptr<SyncEngine> makeEngine()
    {
        return std::make_unique<SyncEngine>(*client, *appState, home.stateFilePath());
    }

    QString watch(const QString &relative)
    {
        const QString path = QDir::cleanPath(area.filePath(relative));
        QDir().mkpath(path);
        appState->setWatchedFolders(appState->watchedFolders() << path);
        return path;
    }

    void sync() { testsupport::run(engine->performSync()); }
    void syncOk()
    {
        sync();
        ASSERT_EQ(appState->syncStatus(), SyncStatus::idle()) << appState->syncStatus().message.toStdString();
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
    // Uploads plus download links asked for.
    int transferRequests() const
    {
        return requestCount("POST", "/api/v1/documents") + requestCount("GET", "/api/v1/documents/");
    }
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

    static void setModified(const QString &path, const QDateTime &time)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime));
    }
    static QDateTime utc(const char *text) { return QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate); }

    testsupport::LogCapture log{&lcSyncEngine()};
    testsupport::TempHome home;
    testsupport::RunningServer running;
    QTemporaryDir area;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<AppState> appState;
    std::unique_ptr<APIClient> client;
    std::unique_ptr<SyncEngine> engine;
};
