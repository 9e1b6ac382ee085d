#include "api/APIClient.h"

#include "api/Errors.h"
#include "api/HttpExchange.h"
#include "api/MultipartBodyDevice.h"
#include "api/StreamedStatus.h"
#include "platform/Preferences.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QMutex>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTemporaryFile>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

const QByteArray jsonType("application/json");

// A status outside 200-299 with an ErrorResponse body gives its message,
// any other body the operation's own fallback text.
APIError serverErrorFrom(const QByteArray &body, const QString &fallback)
{
    try {
        return APIError::serverError(decodeBody<ErrorResponse>(body).error);
    } catch (const DecodingError &) {
        return APIError::serverError(fallback);
    }
}

bool isSuccess(int status)
{
    return status >= 200 && status <= 299;
}

// Only absolute http and https URLs reach the network; anything else (a
// relative or mistyped address, file:, data:) would make Qt read local
// data or fail obscurely.
bool isWebURL(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        && !url.host().isEmpty();
}

NetworkError notAWebAddress(const QString &text)
{
    return NetworkError(QNetworkReply::ProtocolUnknownError,
                        QStringLiteral("\"%1\" is not a valid http or https address.").arg(text));
}

QUrl checkedURL(const QString &text)
{
    const QUrl url(text, QUrl::StrictMode);
    if (!isWebURL(url))
        throw notAWebAddress(text);
    return url;
}

QByteArray serializeBody(const nlohmann::json &body)
{
    try {
        return QByteArray::fromStdString(body.dump());
    } catch (const nlohmann::json::exception &error) {
        throw Error(QStringLiteral("Cannot encode the request body: %1").arg(QString::fromUtf8(error.what())));
    }
}

// Certificates named by SSL_CERT_FILE are trusted besides the system's, as
// OpenSSL-based tools do: the way to reach a server with a private or
// self-signed certificate (a development server over HTTPS, a company CA).
void trustCertificatesFromEnvironment()
{
    // Read once per file: a bundle of a system's roots takes a tenth of a
    // second to read and compare, and each client of the process would
    // otherwise read it again.
    static QString trustedFile;
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    if (file.isEmpty() || file == trustedFile)
        return;
    trustedFile = file;
    const QList<QSslCertificate> extra = QSslCertificate::fromPath(file, QSsl::Pem);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> trusted = configuration.caCertificates();
    bool added = false;
    for (const QSslCertificate &certificate : extra) {
        if (!trusted.contains(certificate)) {
            trusted.append(certificate);
            added = true;
        }
    }
    if (!added)
        return;
    // Setting the list ends Qt's loading of the system's roots on demand,
    // so they are listed here themselves.
    if (configuration.caCertificates().isEmpty())
        trusted = QSslConfiguration::systemCaCertificates() + trusted;
    configuration.setCaCertificates(trusted);
    QSslConfiguration::setDefaultConfiguration(configuration);
}

// The desktop's proxy configuration: its settings where Qt can read them,
// else http_proxy, https_proxy and no_proxy. One per access manager, rather
// than Qt's application-wide switch, so that each client keeps its own
// choice.
//
// Asking the desktop makes the calling thread wait for libproxy's thread,
// and a first sync sends one request per file, so an answer is kept for a
// few seconds per destination: a change of the desktop's settings takes
// effect within that time.
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        const QString destination = QString::number(int(query.queryType())) + query.protocolTag()
            + QLatin1Char(' ') + query.peerHostName() + QLatin1Char(':') + QString::number(query.peerPort());
        const QMutexLocker lock(&m_mutex);
        const auto known = m_answers.constFind(destination);
        if (known != m_answers.cend() && known->age.elapsed() < kKeptMs)
            return known->proxies;
        if (m_answers.size() > 64)
            m_answers.clear();
        Answer answer{QNetworkProxyFactory::systemProxyForQuery(query), {}};
        answer.age.start();
        m_answers.insert(destination, answer);
        return answer.proxies;
    }

private:
    static constexpr qint64 kKeptMs = 10'000;
    struct Answer {
        QList<QNetworkProxy> proxies;
        QElapsedTimer age;
    };
    QMutex m_mutex; // Qt may ask from its network thread as well
    QHash<QString, Answer> m_answers;
};

} // namespace

APIClient::APIClient(Preferences &preferences, QObject *parent) : QObject(parent), m_signInTimeoutMs(kStallTimeoutMs)
{
    m_baseURL = preferences.string(QStringLiteral("tavrel_server_url")).value_or(defaultOrigin());
    trustCertificatesFromEnvironment();
    setProxy(std::nullopt);
}

void APIClient::setProxy(const std::optional<QNetworkProxy> &proxy)
{
    // Connections already open through the old route are closed, so that
    // the next request takes the new one.
    for (QNetworkAccessManager *session : {&m_session, &m_signInSession}) {
        if (proxy)
            session->setProxy(*proxy);
        else
            session->setProxyFactory(new SystemProxyFactory);
        session->clearConnectionCache();
    }
}

QString APIClient::defaultOrigin()
{
    return QStringLiteral("https://api.tavrel.com");
}

QString APIClient::normalizedServerURL(const QString &typed)
{
    const QString text = typed.trimmed();
    if (text.isEmpty() || text.contains(QLatin1String("://")))
        return text;
    qsizetype end = text.size();
    for (const QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = text.indexOf(stop);
        if (at >= 0)
            end = std::min(end, at);
    }
    QString authority = text.left(end);
    const QString rest = text.mid(end);
    const QString hostAndPort = authority.mid(authority.lastIndexOf(QLatin1Char('@')) + 1);
    QString host;
    if (hostAndPort.startsWith(QLatin1Char('['))) {
        host = hostAndPort.mid(1, hostAndPort.indexOf(QLatin1Char(']')) - 1);
    } else if (hostAndPort.count(QLatin1Char(':')) > 1) {
        // A bare IPv6 address: no port can follow it unbracketed.
        host = hostAndPort;
        authority = authority.left(authority.size() - hostAndPort.size()) + QLatin1Char('[') + hostAndPort
            + QLatin1Char(']');
    } else {
        host = hostAndPort.section(QLatin1Char(':'), 0, 0);
    }
    const bool local = host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
        || host.endsWith(QLatin1String(".localhost"), Qt::CaseInsensitive) || QHostAddress(host).isLoopback();
    return (local ? QStringLiteral("http://") : QStringLiteral("https://")) + authority + rest;
}

QString APIClient::endpointURL(const QString &path) const
{
    // A base URL typed with a trailing slash must not turn "/api/v1/..."
    // into "//api/v1/...", which servers treat as another path.
    QString base = m_baseURL;
    if (path.startsWith(QLatin1Char('/')))
        while (base.endsWith(QLatin1Char('/')))
            base.chop(1);
    return base + path;
}

// A token is sent only when it can be one header value: Qt writes raw
// header values as they are, so a line break in a stored or received token
// would add headers of its own to every request.
static bool isHeaderSafe(const QString &value)
{
    for (const QChar c : value)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

QUrl APIClient::endpoint(const QString &path) const
{
    checkedURL(m_baseURL);
    return checkedURL(endpointURL(path));
}

ExpectedVersion ExpectedVersion::content(const QString &hash)
{
    ExpectedVersion expected;
    // A hash that cannot be one header value names no version.
    if (isHeaderSafe(hash))
        expected.m_hash = hash;
    return expected;
}

ExpectedVersion ExpectedVersion::noDocument()
{
    ExpectedVersion expected;
    expected.m_noDocument = true;
    return expected;
}

void ExpectedVersion::setOnDeletion(QNetworkRequest &request) const
{
    if (!m_hash.isEmpty())
        request.setRawHeader("If-Match", '"' + m_hash.toLatin1() + '"');
}

void ExpectedVersion::setOnUpload(QNetworkRequest &request) const
{
    if (!isAny())
        request.setRawHeader("X-Tavrel-Replaces", m_noDocument ? QByteArray("none") : m_hash.toLatin1());
}

void APIClient::addAuthorization(QNetworkRequest &request) const
{
    // An empty token still goes out as "Bearer ": the server, not the
    // client, decides what an empty credential is worth.
    if (m_token && isHeaderSafe(*m_token))
        request.setRawHeader("Authorization", "Bearer " + m_token->toUtf8());
}

HttpExchangeOptions APIClient::exchangeOptions() const
{
    HttpExchangeOptions options;
    options.stallTimeoutMs = m_stallTimeoutMs;
    options.lowDelay = m_lowDelay;
    return options;
}

QCoro::Task<LoginResponse> APIClient::login(QString email, QString password, QString serverURL)
{
    m_baseURL = normalizedServerURL(serverURL);
    const HttpExchangeOptions options = exchangeOptions();
    QNetworkRequest request = makeRequest(endpoint(QStringLiteral("/api/v1/auth/login")), options);
    request.setTransferTimeout(m_signInTimeoutMs);
    request.setRawHeader("Content-Type", jsonType);
    request.setRawHeader("Accept", jsonType);
    const QByteArray body = LoginRequest{email, password}.encode();

    const quint64 attempt = ++m_signInAttempt;
    const auto cancelled = [this, attempt] { return m_cancelledSignIn >= attempt; };
    HttpAnswer answer;
    try {
        QCoro::Task<HttpAnswer> sending = exchange(m_signInSession, request, QByteArrayLiteral("POST"), body, options);
        answer = co_await std::move(sending);
    } catch (const NetworkError &error) {
        if (cancelled())
            throw NetworkError(QNetworkReply::OperationCanceledError, QStringLiteral("Sign-in cancelled."));
        // Qt reports its own transfer time-out as a cancellation.
        if (error.code() == QNetworkReply::OperationCanceledError || error.code() == QNetworkReply::TimeoutError)
            throw NetworkError(QNetworkReply::TimeoutError, QStringLiteral("The server did not answer."));
        throw;
    }
    if (cancelled())
        throw NetworkError(QNetworkReply::OperationCanceledError, QStringLiteral("Sign-in cancelled."));
    if (answer.status == 401)
        throw APIError::unauthorized();
    if (answer.status != 200)
        throw serverErrorFrom(answer.body, QStringLiteral("Login failed"));
    LoginResponse response = decodeBody<LoginResponse>(answer.body);
    m_token = response.token;
    co_return response;
}

void APIClient::cancelLogin()
{
    m_cancelledSignIn = m_signInAttempt;
    for (QNetworkReply *reply : m_signInSession.findChildren<QNetworkReply *>())
        reply->abort();
}

QCoro::Task<QByteArray> APIClient::requestBody(QString method, QString path, std::optional<nlohmann::json> body,
                                               BodyTaker *taker,
                                               std::function<void(QNetworkRequest &)> prepare)
{
    HttpExchangeOptions options = exchangeOptions();
    options.taker = taker;
    QNetworkRequest request = makeRequest(endpoint(path), options);
    request.setRawHeader("Accept", jsonType);
    addAuthorization(request);
    if (prepare)
        prepare(request);
    QByteArray payload;
    if (body) {
        request.setRawHeader("Content-Type", jsonType);
        payload = serializeBody(*body);
    }

    const HttpAnswer answer = co_await exchange(m_session, request, method.toUtf8(), payload, options);
    if (answer.status == 401)
        throw APIError::unauthorized();
    if (answer.status == 404)
        throw APIError::notFound();
    if (answer.status == 412)
        throw APIError::changedMeanwhile();
    if (!isSuccess(answer.status))
        throw serverErrorFrom(answer.body, QStringLiteral("Request failed"));
    co_return answer.body;
}

QString APIClient::encodeQueryValue(const QString &value)
{
    // RFC 3986 query characters: unreserved, sub-delims, ':', '@', '/', '?'.
    // Everything else goes as %XX per UTF-8 byte, upper-case hex.
    static const QByteArray allowed("!$&'()*+,;=:@/?");
    QByteArray encoded;
    for (const char c : value.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9')
            || byte == '-' || byte == '.' || byte == '_' || byte == '~' || allowed.contains(c);
        if (plain) {
            encoded += c;
        } else {
            static const char hex[] = "0123456789ABCDEF";
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 0xF];
        }
    }
    return QString::fromLatin1(encoded);
}

QCoro::Task<SyncStatusResponse> APIClient::getSyncStatus(qint64 folderId, std::optional<QString> since,
                                                         SyncDocumentSink each)
{
    QString path = QStringLiteral("/api/v1/sync/status?folder_id=") + QString::number(folderId);
    if (since)
        path += QStringLiteral("&since=") + encodeQueryValue(*since);
    // Decoded as it arrives, on a thread of its own: an answer about a whole
    // folder of many thousands of documents is tens of MiB, too much to hold
    // whole beside what it decodes to, and its decoding would be felt in
    // the interface.
    StreamedStatus decoding(std::move(each));
    std::exception_ptr failure;
    try {
        QCoro::Task<QByteArray> asking = requestBody(QStringLiteral("GET"), path, std::nullopt, &decoding);
        co_await asking;
    } catch (...) {
        failure = std::current_exception();
    }
    decoding.end();
    // A transfer the decoder ended itself failed for the answer's sake.
    if (failure && !decoding.refused())
        std::rethrow_exception(failure);
    QCoro::Task<SyncStatusResponse> decoded = decoding.result();
    co_return co_await decoded;
}

QCoro::Task<std::vector<FolderResponse>> APIClient::listFolders()
{
    co_return co_await request<std::vector<FolderResponse>>(QStringLiteral("GET"), QStringLiteral("/api/v1/folders"));
}

QCoro::Task<DeleteResponse> APIClient::deleteDocument(qint64 documentId, ExpectedVersion expected)
{
    QCoro::Task<QByteArray> deleting = requestBody(
        QStringLiteral("DELETE"), QStringLiteral("/api/v1/documents/") + QString::number(documentId), std::nullopt,
        nullptr, [&expected](QNetworkRequest &request) { expected.setOnDeletion(request); });
    const QByteArray bytes = co_await deleting;
    co_return decodeBody<DeleteResponse>(bytes);
}

QCoro::Task<LogoutResponse> APIClient::logout()
{
    co_return co_await request<LogoutResponse>(QStringLiteral("DELETE"), QStringLiteral("/api/v1/auth/logout"));
}

QCoro::Task<FolderResponse> APIClient::createFolder(QString name, std::optional<qint64> parentId)
{
    nlohmann::json body = {{"name", name.toStdString()}};
    if (parentId)
        body["parent_id"] = *parentId;
    co_return co_await request<FolderResponse>(QStringLiteral("POST"), QStringLiteral("/api/v1/folders"), body);
}

QString APIClient::mimeTypeForExtension(const QString &extension)
{
    static const QHash<QString, QString> types{
        {QStringLiteral("pdf"), QStringLiteral("application/pdf")},
        {QStringLiteral("doc"), QStringLiteral("application/msword")},
        {QStringLiteral("docx"), QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document")},
        {QStringLiteral("xls"), QStringLiteral("application/vnd.ms-excel")},
        {QStringLiteral("xlsx"), QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet")},
        {QStringLiteral("png"), QStringLiteral("image/png")},
        {QStringLiteral("jpg"), QStringLiteral("image/jpeg")},
        {QStringLiteral("jpeg"), QStringLiteral("image/jpeg")},
        {QStringLiteral("gif"), QStringLiteral("image/gif")},
        {QStringLiteral("txt"), QStringLiteral("text/plain")},
    };
    return types.value(extension.toLower(), QStringLiteral("application/octet-stream"));
}

QString APIClient::extensionOf(const QString &fileName)
{
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : fileName.mid(dot + 1);
}

QCoro::Task<UploadReceipt> APIClient::uploadDocument(std::shared_ptr<QIODevice> file, QString fileName, QString name,
                                                     qint64 folderId, std::function<void(qint64)> progress,
                                                     ExpectedVersion expected)
{
    HttpExchangeOptions options = exchangeOptions();
    QNetworkRequest request = makeRequest(endpoint(QStringLiteral("/api/v1/documents")), options);
    addAuthorization(request);
    expected.setOnUpload(request);
    request.setRawHeader("Accept", jsonType);

    MultipartBodyDevice::Form form;
    form.boundary = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    form.fileName = fileName;
    form.mimeType = mimeTypeForExtension(extensionOf(form.fileName));
    form.documentName = name;
    form.folderId = folderId;
    MultipartBodyDevice body(std::move(file), form);
    request.setRawHeader("Content-Type", "multipart/form-data; boundary=" + form.boundary.toUtf8());
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    if (progress) {
        // The form's head comes first: only file bytes count.
        const qint64 head = body.size() - body.fileSize();
        const qint64 fileSize = body.fileSize();
        options.onSent = [progress = std::move(progress), head, fileSize](qint64 sent) {
            progress(std::clamp<qint64>(sent - head, 0, fileSize));
        };
    }

    const HttpAnswer answer = co_await exchange(m_session, request, "POST", &body, options);
    if (answer.status == 401)
        throw APIError::unauthorized();
    if (answer.status == 412)
        throw APIError::changedMeanwhile();
    if (!isSuccess(answer.status))
        throw serverErrorFrom(answer.body, QStringLiteral("Upload failed"));
    UploadReceipt receipt;
    receipt.document = decodeBody<DocumentResponse>(answer.body);
    // The server answered, so it read the whole body; the device saw every
    // file byte of the attempt that was answered.
    receipt.sentHash = body.sentFileHash();
    receipt.sentBytes = body.fileSize();
    co_return receipt;
}

QCoro::Task<QUrl> APIClient::getDownloadURL(qint64 documentId)
{
    const QString path = QStringLiteral("/api/v1/documents/%1/download").arg(documentId);
    const DownloadResponse link = co_await request<DownloadResponse>(QStringLiteral("GET"), path);
    const QUrl url(link.downloadUrl, QUrl::StrictMode);
    if (!isWebURL(url))
        throw APIError::invalidResponse();
    co_return url;
}

QCoro::Task<void> APIClient::downloadFile(QUrl source, QIODevice *sink, std::function<void(qint64)> progress)
{
    if (!isWebURL(source))
        throw notAWebAddress(source.toString());
    // The link grants access by itself: none of the client's headers go with it.
    HttpExchangeOptions options = exchangeOptions();
    options.sameOriginRedirectsOnly = false;
    options.sink = sink;
    options.onReceived = std::move(progress);
    QCoro::Task<HttpAnswer> fetch = exchange(m_session, makeRequest(source, options), "GET", QByteArray(), options);
    const HttpAnswer answer = co_await std::move(fetch);
    if (!isSuccess(answer.status))
        throw APIError::serverError(QStringLiteral("Download failed with status %1").arg(answer.status));
}

QCoro::Task<void> APIClient::downloadFile(QUrl source, QString destinationPath)
{
    if (!isWebURL(source))
        throw notAWebAddress(source.toString());

    // A hidden temporary beside the destination: same file system, so the
    // final rename is atomic, and the folder scan passes it over.
    const QFileInfo destination(destinationPath);
    QTemporaryFile temporary(destination.absoluteDir().filePath(QStringLiteral(".tavrel-download-XXXXXX")));
    if (!temporary.open())
        throw FileError(QStringLiteral("Cannot write into %1: %2").arg(destination.absolutePath(), temporary.errorString()));

    QCoro::Task<void> body = downloadFile(source, &temporary);
    co_await std::move(body);
    // The bytes reach the disk before the file takes the destination's
    // name, so a crash cannot leave a short file in its place.
    if (!temporary.flush() || ::fsync(temporary.handle()) != 0)
        throw FileError(QStringLiteral("Cannot write %1: %2").arg(temporary.fileName(), temporary.errorString()));
    // The file takes the place of the old one with its permissions, or the
    // usual ones of a new document (QTemporaryFile makes it owner-only).
    temporary.setPermissions(destination.exists() && destination.isFile()
                                 ? destination.permissions()
                                 : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                     | QFileDevice::ReadOther);
    temporary.close();

    // rename(2) replaces an existing destination in one step, so there is
    // never a moment without a file there; a folder at the destination makes
    // it fail and stays as it is.
    const QByteArray from = QFile::encodeName(temporary.fileName());
    const QByteArray to = QFile::encodeName(destination.absoluteFilePath());
    if (destination.isDir())
        throw FileError(QStringLiteral("Cannot move the download to %1: a folder is in the way").arg(destinationPath));
    if (std::rename(from.constData(), to.constData()) != 0) {
        const int error = errno;
        throw FileError(QStringLiteral("Cannot move the download to %1: %2")
                            .arg(destinationPath, QString::fromLocal8Bit(std::strerror(error))));
    }
    temporary.setAutoRemove(false);
    co_return;
}
