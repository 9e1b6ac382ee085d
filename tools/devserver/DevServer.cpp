#include "DevServer.h"

#include "ApiRoutes.h"
#include "HttpServer.h"
#include "MetadataFile.h"
#include "Sha256.h"
#include "Store.h"
#include "Throttle.h"
#include "Traffic.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace devserver;

namespace {

// Keeps the first bytes of the body for requests() while the handler reads it.
class RecordingBodyReader : public BodyReader {
public:
    RecordingBodyReader(BodyReader &inner, std::size_t limit) : m_inner(inner), m_limit(limit) {}

    long read(char *buffer, std::size_t size) override
    {
        const long got = m_inner.read(buffer, size);
        if (got > 0 && m_body.size() < m_limit)
            m_body.append(buffer, std::min<std::size_t>(static_cast<std::size_t>(got), m_limit - m_body.size()));
        return got;
    }

    std::string takeBody() { return std::move(m_body); }

private:
    BodyReader &m_inner;
    std::size_t m_limit;
    std::string m_body;
};

std::string makeTemporaryDir()
{
    std::string pattern = (fs::temp_directory_path() / "tavrel-devserver-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary data directory");
    return pattern;
}

std::string contentTypeForName(const std::string &name)
{
    const auto dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == "pdf") return "application/pdf";
    if (extension == "png") return "image/png";
    if (extension == "jpg" || extension == "jpeg") return "image/jpeg";
    if (extension == "gif") return "image/gif";
    if (extension == "txt") return "text/plain";
    return "application/octet-stream";
}

} // namespace

struct DevServer::Impl {
    explicit Impl(Options opts)
        : options(std::move(opts)),
          ownsDataDir(options.dataDir.empty()),
          store(ownsDataDir ? makeTemporaryDir() : options.dataDir),
          metadataFile(options.persistMetadata && !ownsDataDir ? std::make_unique<MetadataFile>(store) : nullptr),
          routes(store, options.downloadLinkSeconds),
          throttle(options.throttleBytesPerSecond),
          http([this](const HttpRequest &request, BodyReader &body) { return handle(request, body); })
    {
    }

    ~Impl()
    {
        http.stop();
        metadataFile.reset(); // the last save, after the last request
        if (ownsDataDir) {
            std::error_code ignored; // a leftover temporary directory is harmless
            fs::remove_all(store.dataDir(), ignored);
        }
    }

    HttpResponse handle(const HttpRequest &request, BodyReader &body);
    HttpResponse answer(const HttpRequest &request, BodyReader &body, const std::optional<Fault> &fault);

    Options options;
    bool ownsDataDir;
    Store store;
    std::unique_ptr<MetadataFile> metadataFile;
    ApiRoutes routes;
    std::atomic<int64_t> throttle;
    FaultTable faults;
    TrafficLog traffic;
    HttpServer http;
    int port = 0;
};

HttpResponse DevServer::Impl::answer(const HttpRequest &request, BodyReader &body, const std::optional<Fault> &fault)
{
    if (fault && fault->status != 0) {
        body.drain();
        HttpResponse canned;
        canned.status = fault->status;
        canned.body = fault->body;
        canned.contentType = fault->contentType;
        canned.headers.assign(fault->headers.begin(), fault->headers.end());
        return canned;
    }
    try {
        return routes.handle(request, body);
    } catch (const std::exception &error) {
        // A failure inside the server (disk full, rename refused) must reach
        // the client as an answer, not tear down the connection thread.
        return jsonError(500, error.what());
    }
}

HttpResponse DevServer::Impl::handle(const HttpRequest &request, BodyReader &body)
{
    const auto started = std::chrono::steady_clock::now();
    traffic.enter(request.method, request.path);
    const std::optional<Fault> fault = faults.take(request.method, request.path);
    const int64_t rate = throttle.load();
    Pacer pacer(rate, [this](int ms) { return http.sleepUnlessStopping(ms); });
    ThrottledBodyReader throttled(body, pacer);
    RecordingBodyReader recorder(throttled, options.recordedBodyLimit);
    HttpResponse response = answer(request, recorder, fault);
    recorder.drain();
    response.bytesPerSecond = rate;

    RecordedRequest record;
    record.method = request.method;
    record.path = request.path;
    record.target = request.target;
    record.headers = request.headers;
    record.body = recorder.takeBody();
    traffic.record(std::move(record));

    if (fault && fault->delayMs > 0)
        http.sleepUnlessStopping(fault->delayMs);
    if (fault && fault->dropMidBody)
        response.dropMidBody = true;
    traffic.leave(request.method, request.path);
    if (options.logRequests) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        std::fprintf(stderr, "%s %s -> %d (%lld ms)\n", request.method.c_str(), request.path.c_str(), response.status,
                     static_cast<long long>(ms.count()));
    }
    return response;
}

DevServer::DevServer(Options options) : d(std::make_unique<Impl>(std::move(options))) {}

DevServer::DevServer() : DevServer(Options{}) {}

DevServer::~DevServer() = default;

int DevServer::start()
{
    if (d->port == 0) {
        if (!d->options.certificateFile.empty() || !d->options.keyFile.empty())
            d->http.useTls(d->options.certificateFile, d->options.keyFile);
        d->http.setIdleTimeoutMs(d->options.idleTimeoutMs);
        d->port = d->http.listen(d->options.host, d->options.port);
        d->routes.setFallbackOrigin(baseURL());
    }
    return d->port;
}

void DevServer::stop()
{
    d->http.stop();
}

int DevServer::port() const
{
    return d->port;
}

std::string DevServer::baseURL() const
{
    const std::string &host = d->options.host;
    const bool ipv6 = host.find(':') != std::string::npos;
    const std::string scheme = d->http.usesTls() ? "https://" : "http://";
    return scheme + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(d->port);
}

void DevServer::addUser(const std::string &email, const std::string &password, const std::string &displayName,
                        const std::string &organization, std::optional<std::string> firstName,
                        std::optional<std::string> lastName)
{
    UserRecord user;
    user.email = email;
    user.password = password;
    user.displayName = displayName;
    user.organization = organization;
    user.firstName = std::move(firstName);
    user.lastName = std::move(lastName);
    d->store.addUser(std::move(user));
}

std::string DevServer::issueToken(const std::string &email)
{
    if (!d->store.user(email))
        throw std::invalid_argument("no such user: " + email);
    return d->store.issueToken(email);
}

void DevServer::injectFault(Fault fault)
{
    d->faults.add(std::move(fault));
}

void DevServer::clearFaults()
{
    d->faults.clear();
}

void DevServer::setThrottle(int64_t bytesPerSecond)
{
    d->throttle = bytesPerSecond;
}

std::vector<DevServer::RecordedRequest> DevServer::requests() const
{
    return d->traffic.requests();
}

void DevServer::clearRequests()
{
    d->traffic.clear();
}

int DevServer::peakInFlight(const std::string &method, const std::string &path) const
{
    return d->traffic.peakInFlight(method, path);
}

std::vector<DevServer::Folder> DevServer::folders(const std::string &email) const
{
    std::vector<Folder> result;
    for (const auto &record : d->store.folders(email))
        result.push_back(record.folder);
    return result;
}

std::vector<DevServer::Document> DevServer::documents(int64_t folderId, bool includeDeleted) const
{
    std::vector<Document> result;
    for (const auto &record : d->store.documents(folderId, includeDeleted))
        result.push_back(record.document);
    return result;
}

std::optional<std::string> DevServer::content(int64_t documentId) const
{
    const auto record = d->store.document(documentId);
    if (!record || record->document.deleted)
        return std::nullopt;
    std::ifstream file(record->contentPath, std::ios::binary);
    if (!file)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

int64_t DevServer::createFolder(const std::string &email, const std::string &name, std::optional<int64_t> parentId,
                                bool evenIfTaken)
{
    const auto created = d->store.createFolder(email, name, parentId, evenIfTaken);
    if (!created)
        throw std::invalid_argument("unknown parent folder");
    return created->first.folder.id;
}

int64_t DevServer::putDocument(const std::string &email, int64_t folderId, const std::string &name,
                               const std::string &content, std::optional<std::string> updatedAt)
{
    UploadedContent upload;
    upload.tempPath = d->store.newTempPath();
    upload.fileHash = Sha256::of(content);
    upload.fileSize = static_cast<int64_t>(content.size());
    upload.contentType = contentTypeForName(name);
    {
        std::ofstream file(upload.tempPath, std::ios::binary);
        file.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!file)
            throw std::runtime_error("cannot write document content");
    }
    const auto stored = d->store.storeUpload(email, folderId, name, upload, std::move(updatedAt));
    if (!stored) {
        std::error_code ignored;
        fs::remove(upload.tempPath, ignored);
        throw std::invalid_argument("unknown folder");
    }
    return stored->record.document.id;
}

void DevServer::deleteFolder(int64_t folderId)
{
    d->store.deleteFolder(folderId);
}

void DevServer::deleteDocument(int64_t documentId)
{
    d->store.deleteDocument("", documentId);
}
