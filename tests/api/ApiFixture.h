#pragma once

#include "api/APIClient.h"
#include "api/Errors.h"
#include "platform/Preferences.h"
#include "support/TestSupport.h"

#include <memory>

using testsupport::fault;

// A development server, a private home and a client signed in to the
// server through a real token.
class ApiFixture : public testing::Test {
protected:
    void SetUp() override
    {
        preferences = std::make_unique<Preferences>(home.preferencesPath());
        client = std::make_unique<APIClient>(*preferences);
        client->setBaseURL(running.baseURL);
        client->setToken(QString::fromStdString(running.server.issueToken(testsupport::RunningServer::email)));
        folderId = running.server.createFolder(testsupport::RunningServer::email, "Work", std::nullopt);
    }

    // Uploads the file at `path` as the sync does: opened first, the client
    // reading the open file.
    QCoro::Task<UploadReceipt> uploadFile(const QString &path, const QString &name, qint64 folder,
                                          ExpectedVersion expected = {})
    {
        auto file = std::make_shared<QFile>(path);
        if (!file->open(QIODevice::ReadOnly))
            throw std::runtime_error("cannot open test file " + path.toStdString());
        return client->uploadDocument(std::move(file), QFileInfo(path).fileName(), name, folder, {}, expected);
    }

    // The requests the server saw for `path`, oldest first.
    std::vector<DevServer::RecordedRequest> requestsTo(const std::string &path) const
    {
        std::vector<DevServer::RecordedRequest> found;
        for (auto &request : running.server.requests())
            if (request.path == path)
                found.push_back(request);
        return found;
    }

    static std::optional<std::string> header(const DevServer::RecordedRequest &request, const std::string &name)
    {
        const auto found = request.headers.find(name);
        return found == request.headers.end() ? std::nullopt : std::optional(found->second);
    }

    // Runs `task` and returns the description of the error it threw as E,
    // failing the test when it succeeds or throws something else.
    template <typename E, typename T>
    QString failureOf(QCoro::Task<T> &&task)
    {
        try {
            testsupport::run(std::move(task));
        } catch (const E &error) {
            return error.description();
        } catch (const std::exception &other) {
            ADD_FAILURE() << "unexpected error type: " << other.what();
            return {};
        }
        ADD_FAILURE() << "the operation succeeded";
        return {};
    }

    testsupport::TempHome home;
    testsupport::RunningServer running;
    QTemporaryDir files;
    std::unique_ptr<Preferences> preferences;
    std::unique_ptr<APIClient> client;
    qint64 folderId = 0;
};
