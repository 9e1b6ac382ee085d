#pragma once

// The floor for a first sync: a client that does only the work no client
// can avoid (sign in, list and make the folders, hash each file and send it
// in one multipart upload, three in flight) and saves its state once at the
// end. Plain Qt requests, no checks; measured beside the engine against the
// same development server.
#include "platform/TcpConnections.h"
#include "sync/LocalScanner.h"
#include "sync/SyncState.h"

#include <QCoroNetworkReply>
#include <QCoroTask>
#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <nlohmann/json.hpp>

#include <memory>
#include <stdexcept>

namespace enginebench {

class MinimalClient {
public:
    MinimalClient(QString baseURL, QString statePath) : m_base(std::move(baseURL)), m_statePath(std::move(statePath)) {}

    // Uploads every file below `folder` into a server folder of the same
    // name under a new root folder named `rootName`, and writes one state
    // file. A root name of its own lets it share an account with the engine.
    QCoro::Task<void> firstSync(QString email, QString password, QString rootName, QString folder)
    {
        // Each task named before it is awaited (GCC 12 and temporaries).
        const nlohmann::json login = {{"email", email.toStdString()}, {"password", password.toStdString()}};
        auto signIn = call("POST", QStringLiteral("/api/v1/auth/login"), login);
        const nlohmann::json session = co_await signIn;
        m_token = QByteArray::fromStdString(session.at("token").get<std::string>());
        auto list = call("GET", QStringLiteral("/api/v1/folders"), std::nullopt);
        co_await list;
        const nlohmann::json rootBody = {{"name", rootName.toStdString()}};
        auto makeRoot = call("POST", QStringLiteral("/api/v1/folders"), rootBody);
        const nlohmann::json root = co_await makeRoot;
        const nlohmann::json subBody = {{"name", QFileInfo(folder).fileName().toStdString()}, {"parent_id", root.at("id")}};
        auto makeSub = call("POST", QStringLiteral("/api/v1/folders"), subBody);
        const nlohmann::json sub = co_await makeSub;
        m_folderId = sub.at("id").get<qint64>();
        m_state.serverFolderId = root.at("id").get<qint64>();
        m_state.folderMappings.insert(folder, m_folderId);

        QDirIterator files(folder, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext())
            m_paths.append(files.next());

        std::vector<QCoro::Task<void>> lanes;
        for (int i = 0; i < 3; ++i)
            lanes.push_back(lane());
        for (auto &lane : lanes)
            co_await std::move(lane);
        m_state.save(m_statePath);
    }

    qint64 uploaded() const { return m_state.trackedFiles.size(); }

private:
    QCoro::Task<nlohmann::json> call(QByteArray verb, QString path, std::optional<nlohmann::json> body)
    {
        QNetworkRequest request(QUrl(m_base + path));
        request.setRawHeader("Accept", "application/json");
        if (!m_token.isEmpty())
            request.setRawHeader("Authorization", "Bearer " + m_token);
        QByteArray bytes;
        if (body) {
            request.setRawHeader("Content-Type", "application/json");
            bytes = QByteArray::fromStdString(body->dump());
        }
        QNetworkReply *reply = body ? m_session.sendCustomRequest(request, verb, bytes)
                                    : m_session.sendCustomRequest(request, verb);
        co_return co_await answer(reply);
    }

    QCoro::Task<nlohmann::json> answer(QNetworkReply *sent)
    {
        const std::unique_ptr<QNetworkReply> reply(sent);
        bool connecting = false;
        QObject::connect(reply.get(), &QNetworkReply::socketStartedConnecting, [&connecting] { connecting = true; });
        co_await qCoro(reply.get()).waitForFinished();
        // The same socket option as the engine's client: the floor is what
        // the transport allows at its best.
        if (connecting)
            setLowDelayOnConnectionsTo(quint16(reply->url().port(80)));
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QByteArray body = reply->readAll();
        if (status < 200 || status > 299)
            throw std::runtime_error("minimal client: status " + std::to_string(status) + " for "
                                     + reply->url().toString().toStdString());
        co_return nlohmann::json::parse(body.toStdString());
    }

    QCoro::Task<void> lane()
    {
        while (m_next < m_paths.size()) {
            const QString path = m_paths.at(m_next++);
            const QString name = QFileInfo(path).fileName();
            const QString hash = LocalScanner::computeFileHash(path);
            auto *form = new QHttpMultiPart(QHttpMultiPart::FormDataType);
            QHttpPart filePart;
            filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                               QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(name));
            filePart.setHeader(QNetworkRequest::ContentTypeHeader, "application/octet-stream");
            auto *file = new QFile(path, form);
            file->open(QIODevice::ReadOnly);
            filePart.setBodyDevice(file);
            form->append(filePart);
            QHttpPart namePart;
            namePart.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"name\"");
            namePart.setBody(name.toUtf8());
            form->append(namePart);
            QHttpPart folderPart;
            folderPart.setHeader(QNetworkRequest::ContentDispositionHeader, "form-data; name=\"folder_id\"");
            folderPart.setBody(QByteArray::number(m_folderId));
            form->append(folderPart);

            QNetworkRequest request(QUrl(m_base + QStringLiteral("/api/v1/documents")));
            request.setRawHeader("Accept", "application/json");
            request.setRawHeader("Authorization", "Bearer " + m_token);
            QNetworkReply *reply = m_session.post(request, form);
            form->setParent(reply);
            const nlohmann::json document = co_await answer(reply);

            TrackedFile entry;
            entry.remoteId = document.at("id").get<qint64>();
            if (document.contains("file_hash") && document["file_hash"].is_string())
                entry.remoteHash = QString::fromStdString(document["file_hash"].get<std::string>());
            entry.localHash = hash;
            entry.lastSynced = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
            entry.localModified = QFileInfo(path).lastModified();
            m_state.trackedFiles.insert(path, entry);
        }
    }

    QString m_base;
    QString m_statePath;
    QByteArray m_token;
    QNetworkAccessManager m_session;
    qint64 m_folderId = 0;
    QStringList m_paths;
    qsizetype m_next = 0;
    SyncState m_state;
};

} // namespace enginebench
