#pragma once

#include "DevServer.h"
#include "HttpServer.h"
#include "TimeText.h"

#include <atomic>
#include <chrono>
#include <nlohmann/json_fwd.hpp>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

struct UserRecord {
    int64_t id = 0;
    std::string email, password, displayName, organization;
    std::optional<std::string> firstName, lastName;
};

struct FolderRecord {
    DevServer::Folder folder;
    std::string owner;
    std::string path; // "/Parent/Child"
    std::string createdAt, updatedAt;
    int64_t documentCount = 0;
};

struct DocumentRecord {
    DevServer::Document document;
    std::string owner;
    std::string contentType;
    std::string contentPath;
    Micros changedAt = 0; // strictly increasing over all changes of this server
    Micros deletedAt = 0;
};

struct SyncSnapshot {
    Micros serverTime = 0;
    FolderRecord folder;
    std::vector<DocumentRecord> documents;
    std::vector<int64_t> deletedIds;
};

struct UploadedContent {
    std::string tempPath; // moved into the store on success
    std::string fileHash;
    int64_t fileSize = 0;
    std::string contentType;
};

// What a request that replaces or deletes a document expects the live
// document of its name or id to be.
struct Expectation {
    std::string hash;        // that content; empty: any
    bool noDocument = false; // none at all
    bool metBy(const DocumentRecord *live) const
    {
        if (noDocument)
            return live == nullptr;
        return hash.empty() || (live && live->document.fileHash == hash);
    }
};

struct StoredUpload {
    DocumentRecord record;
    bool created = false; // false: a new version of an existing document
    bool changed = false; // nothing stored: the live version is not the one expected
};

struct DownloadTarget {
    std::shared_ptr<OpenFile> file; // opened under the lock, so a new version cannot pull it away
    int64_t size = 0;
    std::string contentType;
};

// Users, sessions, folders, documents and download links, guarded by one
// mutex. Contents live as files in the data directory; only metadata is
// held in memory.
class Store {
public:
    explicit Store(std::string dataDir);

    const std::string &dataDir() const { return m_dataDir; }
    std::string newTempPath();

    void addUser(UserRecord user);
    std::optional<UserRecord> user(const std::string &email) const;
    std::optional<std::string> login(const std::string &email, const std::string &password);
    std::string issueToken(const std::string &email);
    std::optional<std::string> userForToken(const std::string &token) const;
    void revokeToken(const std::string &token);

    std::vector<FolderRecord> folders(const std::string &owner) const;
    std::optional<FolderRecord> folder(const std::string &owner, int64_t id) const;
    // An existing folder of that name under the same parent is returned as
    // is (created = false), unless `evenIfTaken`: then a second one is made,
    // as two clients racing on a service without that check would make.
    // nullopt when the parent is unknown.
    std::optional<std::pair<FolderRecord, bool>> createFolder(const std::string &owner, const std::string &name,
                                                              std::optional<int64_t> parentId,
                                                              bool evenIfTaken = false);
    // Removes the folder and the folders below it (their documents become
    // unreachable). False when there is no such folder.
    bool deleteFolder(int64_t id);

    // Creates the document, or versions a live one of the same name in the
    // folder. nullopt when the folder is unknown.
    std::optional<StoredUpload> storeUpload(const std::string &owner, int64_t folderId, const std::string &name,
                                            const UploadedContent &content,
                                            std::optional<std::string> updatedAtText = std::nullopt,
                                            const Expectation &expected = {});
    std::optional<DocumentRecord> document(int64_t id) const;
    std::vector<DocumentRecord> documents(int64_t folderId, bool includeDeleted) const;
    // `owner` empty: any owner. False when there is no live document.
    enum class Deletion { deleted, notFound, changed };
    // A document that is not what `expected` says is left as it is.
    Deletion deleteDocument(const std::string &owner, int64_t id, const Expectation &expected = {});

    std::optional<SyncSnapshot> syncStatus(const std::string &owner, int64_t folderId,
                                           std::optional<Micros> since);

    std::optional<std::string> createDownloadLink(const std::string &owner, int64_t documentId, int lifetimeSeconds);
    std::optional<DownloadTarget> resolveDownloadLink(const std::string &token) const;

    // Sessions, folders and documents (deleted ones too, for later "since"
    // queries) as JSON, and back. Users and download links are not kept.
    nlohmann::json metadata() const;
    // Throws std::runtime_error when the metadata is not in the expected form.
    void restoreMetadata(const nlohmann::json &metadata);
    // Grows with every change to what metadata() holds.
    uint64_t revision() const { return m_revision.load(); }

private:
    Micros tick(); // under m_mutex
    FolderRecord folderView(const DevServer::Folder &folder, const std::string &owner) const;
    std::string folderPath(int64_t id) const;

    struct FolderEntry {
        DevServer::Folder folder;
        std::string owner;
        Micros createdAt = 0, updatedAt = 0;
    };
    struct Link {
        int64_t documentId = 0;
        std::chrono::steady_clock::time_point expires;
    };

    const std::string m_dataDir;
    mutable std::mutex m_mutex;
    Micros m_lastTick = 0;
    int64_t m_nextUserId = 1, m_nextFolderId = 1, m_nextDocumentId = 1;
    uint64_t m_tempCounter = 0;
    std::atomic<uint64_t> m_revision{0};
    std::map<std::string, UserRecord> m_users;
    std::map<std::string, std::string> m_tokens; // token -> email
    std::map<int64_t, FolderEntry> m_folders;
    std::map<int64_t, DocumentRecord> m_documents;
    // Live documents by folder and name: versioning and counts without a scan.
    std::map<int64_t, std::map<std::string, int64_t>> m_liveByFolder;
    std::map<std::string, Link> m_links;
    std::multimap<std::chrono::steady_clock::time_point, std::string> m_linkExpiries; // by expiry, to drop them
};

} // namespace devserver
