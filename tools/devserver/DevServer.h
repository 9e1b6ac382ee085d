#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A complete implementation of the document service's REST interface, for
// tests, benchmarks and trying the client without an account. HTTP on
// loopback, or HTTPS with a given certificate; all state guarded by one
// mutex, served from background threads.
class DevServer {
public:
    struct Options {
        std::string host = "127.0.0.1";
        int port = 0;             // 0: an ephemeral port
        std::string dataDir;      // where document contents are kept; empty: a private temporary dir
        int downloadLinkSeconds = 300; // lifetime of a download link
        std::size_t recordedBodyLimit = 16 * 1024 * 1024; // bytes of each request body kept by requests()
        bool logRequests = false; // one line per answered request on stderr
        bool persistMetadata = false; // keep folders, documents and sessions in dataDir across restarts
        // Both set: serve HTTPS with this certificate chain and private key
        // (PEM files). start() throws when they cannot be used.
        std::string certificateFile;
        std::string keyFile;
        int idleTimeoutMs = 60 * 1000; // a kept-alive connection without a request is closed after this
        // Reads each request body and writes each response body no faster
        // than this, per connection (0: no limit); a slow link to try
        // large transfers on.
        int64_t throttleBytesPerSecond = 0;
    };

    // A canned answer for requests matching method + path (path without the
    // query). Applies to the next `count` matching requests (-1: all).
    struct Fault {
        std::string method;       // empty: any method
        std::string path;         // exact path, or a prefix when it ends in '*'
        int status = 0;           // 0: no canned answer, only the delay / drop
        std::string body;
        std::string contentType = "application/json";
        std::map<std::string, std::string> headers; // e.g. Location for redirects
        int delayMs = 0;          // before answering (the real or canned answer)
        bool dropMidBody = false; // send part of the real answer's body, then close
        int count = -1;
    };

    struct RecordedRequest {
        std::string method;
        std::string path;   // without the query
        std::string target; // path and raw query as sent
        std::multimap<std::string, std::string> headers; // names lower-cased
        std::string body;   // at most the first 16 MiB
    };

    struct Document {
        int64_t id = 0;
        int64_t folderId = 0;
        std::string name;
        std::string fileHash; // SHA-256 hex of the content
        int64_t fileSize = 0;
        int version = 1;
        std::string createdAt, updatedAt; // ISO 8601, whole seconds, Z
        bool deleted = false;
    };

    struct Folder {
        int64_t id = 0;
        std::string name;
        std::optional<int64_t> parentId;
    };

    explicit DevServer(Options options);
    DevServer();
    ~DevServer();

    int start();     // returns the port; throws std::runtime_error on failure
    void stop();
    int port() const;
    std::string baseURL() const; // "http://127.0.0.1:PORT", or https:// with a certificate

    void addUser(const std::string &email, const std::string &password,
                 const std::string &displayName, const std::string &organization,
                 std::optional<std::string> firstName = std::nullopt,
                 std::optional<std::string> lastName = std::nullopt);
    // Logs the user in without HTTP and returns a valid token.
    std::string issueToken(const std::string &email);

    void injectFault(Fault fault);
    void clearFaults();
    // Changes Options::throttleBytesPerSecond for requests that start from now on.
    void setThrottle(int64_t bytesPerSecond);

    std::vector<RecordedRequest> requests() const;
    void clearRequests();
    // Highest number of requests in flight at once matching method + path
    // (same matching as Fault), since the last clearRequests().
    int peakInFlight(const std::string &method, const std::string &path) const;

    // Direct access for tests: what the server holds, and changes made "by
    // another client".
    std::vector<Folder> folders(const std::string &email) const;
    std::vector<Document> documents(int64_t folderId, bool includeDeleted = false) const;
    std::optional<std::string> content(int64_t documentId) const;
    // With `evenIfTaken`, a second folder of a name already taken under
    // that parent is made (what two clients racing on the real service get).
    int64_t createFolder(const std::string &email, const std::string &name,
                         std::optional<int64_t> parentId, bool evenIfTaken = false);
    // The folder and those below it deleted "elsewhere"; the service itself
    // offers no such request.
    void deleteFolder(int64_t folderId);
    // Creates or (same name in the folder) versions a document.
    int64_t putDocument(const std::string &email, int64_t folderId, const std::string &name,
                        const std::string &content,
                        std::optional<std::string> updatedAt = std::nullopt);
    void deleteDocument(int64_t documentId);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
