#pragma once

#include "api/HttpExchange.h"
#include "api/Records.h"

#include <QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QNetworkProxy>
#include <QObject>
#include <QUrl>
#include <nlohmann/json.hpp>
#include <memory>
#include <optional>

class Preferences;

// What an upload sent and what the server made of it. The hash and size are
// of the file's bytes as they went out, taken while sending, so the caller
// need not read the file a second time to know what the server now holds.
struct UploadReceipt {
    DocumentResponse document;
    QString sentHash; // SHA-256, 64 lower-case hex digits
    qint64 sentBytes = 0;
};

// What a request that replaces or deletes a document expects the server to
// hold. A service that checks it refuses the request when something else is
// there (412: APIError::isChangedMeanwhile); one that does not acts on
// whatever it holds. The default expects nothing in particular.
//
// A deletion says it as HTTP does, "If-Match" with the content hash as the
// version's entity tag. An upload goes to the collection of documents, which
// HTTP's conditions would name instead of the document replaced, so it says
// it in a header of the service's own, "X-Tavrel-Replaces", that a server
// which does not know it ignores: the hash of the version it replaces, or
// "none" for a new document.
struct ExpectedVersion {
    // The version with this content.
    static ExpectedVersion content(const QString &hash);
    // No live document of the name.
    static ExpectedVersion noDocument();

    bool isAny() const { return !m_noDocument && m_hash.isEmpty(); }
    // The headers that say it, on a deletion or on an upload.
    void setOnDeletion(QNetworkRequest &request) const;
    void setOnUpload(QNetworkRequest &request) const;

private:
    QString m_hash; // empty: any, unless m_noDocument
    bool m_noDocument = false;
};

// The one client of the document service. Every operation is a coroutine on
// the main thread; failures are thrown (APIError for what the server said,
// NetworkError, DecodingError and FileError passed on as they are).
class APIClient : public QObject {
    Q_OBJECT
public:
    // Reads the stored server URL ("tavrel_server_url") once, here; the
    // stored token, which may live in the keyring, is the caller's to set.
    explicit APIClient(Preferences &preferences, QObject *parent = nullptr);

    static QString defaultOrigin();
    // The server address as it is meant: surrounding blanks dropped, and
    // without a scheme https:// added (http:// for this machine: localhost,
    // 127.x.x.x, ::1, which serve no certificate as a rule). An address with
    // a scheme is returned as it is.
    static QString normalizedServerURL(const QString &typed);

    QString baseURL() const { return m_baseURL; }
    void setBaseURL(const QString &url) { m_baseURL = url; }
    std::optional<QString> token() const { return m_token; }
    void setToken(std::optional<QString> token) { m_token = std::move(token); }
    // How long a request may go without a byte moving before it is abandoned.
    int stallTimeoutMs() const { return m_stallTimeoutMs; }
    void setStallTimeoutMs(int ms) { m_stallTimeoutMs = ms; }
    // The proxy of every request from now on: the desktop's configuration
    // when none is given (the default), else the one given
    // (QNetworkProxy::NoProxy to go direct).
    void setProxy(const std::optional<QNetworkProxy> &proxy);
    // Nagle's algorithm off on the client's connections (the default); off
    // only to measure what it costs.
    void setLowDelay(bool on) { m_lowDelay = on; }

    // Signs in at the given server address (normalized first, and kept as
    // the base URL even when the sign-in fails). A sign-in that gets no
    // answer within signInTimeoutMs fails with "The server did not answer.".
    QCoro::Task<LoginResponse> login(QString email, QString password, QString serverURL);
    // Ends a running sign-in at once; it fails with "Sign-in cancelled.".
    void cancelLogin();
    void setSignInTimeoutMs(int ms) { m_signInTimeoutMs = ms; }

    // The generic pipeline: baseURL + path, JSON in and out, classified by
    // status (401, 404, 412, 2xx, other). Returns the raw body of a 2xx
    // answer, unless `taker` takes it as it arrives. `prepare`, when given,
    // adds to the request before it goes.
    QCoro::Task<QByteArray> requestBody(QString method, QString path,
                                        std::optional<nlohmann::json> body = std::nullopt,
                                        BodyTaker *taker = nullptr,
                                        std::function<void(QNetworkRequest &)> prepare = {});

    template <typename T>
    QCoro::Task<T> request(QString method, QString path,
                           std::optional<nlohmann::json> body = std::nullopt)
    {
        const QByteArray bytes = co_await requestBody(std::move(method), std::move(path), std::move(body));
        co_return decodeBody<T>(bytes);
    }

    // With `each`, the listed documents go to it as they are decoded, on a
    // thread of the decoder's own, and the answer's list stays empty.
    QCoro::Task<SyncStatusResponse> getSyncStatus(qint64 folderId, std::optional<QString> since,
                                                  SyncDocumentSink each = {});
    QCoro::Task<std::vector<FolderResponse>> listFolders();
    QCoro::Task<FolderResponse> createFolder(QString name, std::optional<qint64> parentId);
    QCoro::Task<DeleteResponse> deleteDocument(qint64 documentId, ExpectedVersion expected = {});
    // Ends the session on the server; the stored token is the caller's to clear.
    QCoro::Task<LogoutResponse> logout();
    // Streams the file's bytes from `file` (open for reading and seekable,
    // e.g. a file the caller opened and checked: the client never opens a
    // path itself); the bytes on the wire are the multipart form, with
    // `fileName` as the file part's filename and `name` as the document's.
    // `progress`, when given, is told the bytes sent so far as they go.
    // `expected`: what the upload means to replace.
    QCoro::Task<UploadReceipt> uploadDocument(std::shared_ptr<QIODevice> file, QString fileName, QString name,
                                              qint64 folderId, std::function<void(qint64)> progress = {},
                                              ExpectedVersion expected = {});
    QCoro::Task<QUrl> getDownloadURL(qint64 documentId);
    // Plain GET into a temporary file beside the destination, then moved into
    // place: the destination never holds a partial file.
    QCoro::Task<void> downloadFile(QUrl source, QString destinationPath);
    // Plain GET that writes the body into `sink` as it arrives (typically a
    // temporary file the caller puts in place itself); nothing is renamed.
    // On failure, what reached the sink is the caller's to discard.
    // `progress`, when given, is told the bytes received so far.
    QCoro::Task<void> downloadFile(QUrl source, QIODevice *sink, std::function<void(qint64)> progress = {});

    static QString mimeTypeForExtension(const QString &extension);

    // Percent-encoding of a since time for the status query.
    static QString encodeQueryValue(const QString &value);

    // The text after the last dot of a file name, empty without a dot.
    static QString extensionOf(const QString &fileName);

private:
    QString endpointURL(const QString &path) const;
    // The base URL checked, then the path added: a refused address is
    // reported as the user typed it, without the API's paths.
    QUrl endpoint(const QString &path) const;
    void addAuthorization(QNetworkRequest &request) const;
    HttpExchangeOptions exchangeOptions() const;

    QString m_baseURL;
    std::optional<QString> m_token;
    int m_stallTimeoutMs = kStallTimeoutMs;
    bool m_lowDelay = true;
    QNetworkAccessManager m_session;
    // Sign-in has its own, so that cancelling it touches no other request.
    QNetworkAccessManager m_signInSession;
    int m_signInTimeoutMs;
    quint64 m_signInAttempt = 0;
    quint64 m_cancelledSignIn = 0;
};
