#include "Store.h"

#include "Sha256.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace devserver {

Store::Store(std::string dataDir) : m_dataDir(std::move(dataDir))
{
    fs::create_directories(fs::path(m_dataDir) / "documents");
    fs::create_directories(fs::path(m_dataDir) / "uploads");
    // Uploads cut short by an earlier run of the server are of no use.
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(fs::path(m_dataDir) / "uploads", error))
        if (entry.path().extension() == ".part")
            fs::remove(entry.path(), error);
}

std::string Store::newTempPath()
{
    std::lock_guard lock(m_mutex);
    return (fs::path(m_dataDir) / "uploads" / (std::to_string(++m_tempCounter) + "-" + randomHex(8) + ".part")).string();
}

Micros Store::tick()
{
    m_lastTick = std::max(systemMicros(), m_lastTick + 1);
    return m_lastTick;
}

void Store::addUser(UserRecord user)
{
    std::lock_guard lock(m_mutex);
    const auto existing = m_users.find(user.email);
    user.id = existing != m_users.end() ? existing->second.id : m_nextUserId++;
    m_users[user.email] = std::move(user);
}

std::optional<UserRecord> Store::user(const std::string &email) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_users.find(email);
    if (it == m_users.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::string> Store::login(const std::string &email, const std::string &password)
{
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_users.find(email);
        if (it == m_users.end() || it->second.password != password)
            return std::nullopt;
    }
    return issueToken(email);
}

std::string Store::issueToken(const std::string &email)
{
    const std::string token = randomHex(24);
    std::lock_guard lock(m_mutex);
    m_tokens[token] = email;
    ++m_revision;
    return token;
}

std::optional<std::string> Store::userForToken(const std::string &token) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_tokens.find(token);
    if (it == m_tokens.end())
        return std::nullopt;
    return it->second;
}

void Store::revokeToken(const std::string &token)
{
    std::lock_guard lock(m_mutex);
    m_tokens.erase(token);
    ++m_revision;
}

std::string Store::folderPath(int64_t id) const
{
    std::string path;
    // Bounded walk: parents always have smaller ids, but stay safe anyway.
    for (int depth = 0; depth < 256; ++depth) {
        const auto it = m_folders.find(id);
        if (it == m_folders.end())
            break;
        path = "/" + it->second.folder.name + path;
        if (!it->second.folder.parentId)
            break;
        id = *it->second.folder.parentId;
    }
    return path;
}

FolderRecord Store::folderView(const DevServer::Folder &folder, const std::string &owner) const
{
    FolderRecord record;
    record.folder = folder;
    record.owner = owner;
    record.path = folderPath(folder.id);
    const auto &entry = m_folders.at(folder.id);
    record.createdAt = secondsText(entry.createdAt);
    record.updatedAt = secondsText(entry.updatedAt);
    const auto live = m_liveByFolder.find(folder.id);
    record.documentCount = live == m_liveByFolder.end() ? 0 : static_cast<int64_t>(live->second.size());
    return record;
}

std::vector<FolderRecord> Store::folders(const std::string &owner) const
{
    std::lock_guard lock(m_mutex);
    std::vector<FolderRecord> result;
    for (const auto &[id, entry] : m_folders)
        if (entry.owner == owner)
            result.push_back(folderView(entry.folder, owner));
    return result;
}

std::optional<FolderRecord> Store::folder(const std::string &owner, int64_t id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_folders.find(id);
    if (it == m_folders.end() || it->second.owner != owner)
        return std::nullopt;
    return folderView(it->second.folder, owner);
}

std::optional<std::pair<FolderRecord, bool>> Store::createFolder(const std::string &owner, const std::string &name,
                                                                 std::optional<int64_t> parentId, bool evenIfTaken)
{
    std::lock_guard lock(m_mutex);
    if (parentId) {
        const auto parent = m_folders.find(*parentId);
        if (parent == m_folders.end() || parent->second.owner != owner)
            return std::nullopt;
    }
    for (const auto &[id, entry] : m_folders)
        if (!evenIfTaken && entry.owner == owner && entry.folder.name == name && entry.folder.parentId == parentId)
            return std::make_pair(folderView(entry.folder, owner), false);

    FolderEntry entry;
    entry.folder.id = m_nextFolderId++;
    entry.folder.name = name;
    entry.folder.parentId = parentId;
    entry.owner = owner;
    entry.createdAt = entry.updatedAt = tick();
    m_folders[entry.folder.id] = entry;
    ++m_revision;
    return std::make_pair(folderView(entry.folder, owner), true);
}

bool Store::deleteFolder(int64_t id)
{
    std::lock_guard lock(m_mutex);
    if (!m_folders.count(id))
        return false;
    std::vector<int64_t> doomed{id};
    for (std::size_t i = 0; i < doomed.size(); ++i)
        for (const auto &[childId, entry] : m_folders)
            if (entry.folder.parentId == doomed[i])
                doomed.push_back(childId);
    for (const int64_t folderId : doomed)
        m_folders.erase(folderId);
    ++m_revision;
    return true;
}

std::optional<StoredUpload> Store::storeUpload(const std::string &owner, int64_t folderId, const std::string &name,
                                               const UploadedContent &content,
                                               std::optional<std::string> updatedAtText, const Expectation &expected)
{
    std::lock_guard lock(m_mutex);
    const auto folder = m_folders.find(folderId);
    if (folder == m_folders.end() || folder->second.owner != owner)
        return std::nullopt;

    auto &live = m_liveByFolder[folderId];
    const auto liveEntry = live.find(name);
    const DocumentRecord *existing = liveEntry == live.end() ? nullptr : &m_documents.at(liveEntry->second);
    StoredUpload result;
    if (!expected.metBy(existing)) {
        result.changed = true;
        return result;
    }

    const Micros now = tick();
    result.created = existing == nullptr;
    DocumentRecord record;
    if (existing) {
        record = *existing;
        record.document.version += 1;
    } else {
        record.document.id = m_nextDocumentId++;
        record.document.folderId = folderId;
        record.document.name = name;
        record.document.createdAt = secondsText(now);
        record.owner = owner;
    }
    record.document.fileHash = content.fileHash;
    record.document.fileSize = content.fileSize;
    record.document.updatedAt = updatedAtText.value_or(secondsText(now));
    record.contentType = content.contentType.empty() ? "application/octet-stream" : content.contentType;
    record.changedAt = now;

    const std::string oldPath = record.contentPath;
    record.contentPath = (fs::path(m_dataDir) / "documents"
                          / (std::to_string(record.document.id) + "-v" + std::to_string(record.document.version)))
                             .string();
    std::error_code error;
    fs::rename(content.tempPath, record.contentPath, error);
    if (error)
        throw std::runtime_error("cannot store upload: " + error.message());
    // Streams already open on the old version keep their descriptor.
    if (!oldPath.empty())
        fs::remove(oldPath, error);

    folder->second.updatedAt = now;
    m_documents[record.document.id] = record;
    live[name] = record.document.id;
    ++m_revision;
    result.record = record;
    return result;
}

std::optional<DocumentRecord> Store::document(int64_t id) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_documents.find(id);
    if (it == m_documents.end())
        return std::nullopt;
    return it->second;
}

std::vector<DocumentRecord> Store::documents(int64_t folderId, bool includeDeleted) const
{
    std::lock_guard lock(m_mutex);
    std::vector<DocumentRecord> result;
    for (const auto &[id, record] : m_documents)
        if (record.document.folderId == folderId && (includeDeleted || !record.document.deleted))
            result.push_back(record);
    return result;
}

Store::Deletion Store::deleteDocument(const std::string &owner, int64_t id, const Expectation &expected)
{
    std::lock_guard lock(m_mutex);
    const auto it = m_documents.find(id);
    if (it == m_documents.end() || it->second.document.deleted || (!owner.empty() && it->second.owner != owner))
        return Deletion::notFound;
    if (!expected.metBy(&it->second))
        return Deletion::changed;
    it->second.document.deleted = true;
    it->second.deletedAt = tick();
    m_liveByFolder[it->second.document.folderId].erase(it->second.document.name);
    ++m_revision;
    std::error_code error;
    fs::remove(it->second.contentPath, error);
    auto folder = m_folders.find(it->second.document.folderId);
    if (folder != m_folders.end())
        folder->second.updatedAt = it->second.deletedAt;
    return Deletion::deleted;
}

std::optional<SyncSnapshot> Store::syncStatus(const std::string &owner, int64_t folderId, std::optional<Micros> since)
{
    std::lock_guard lock(m_mutex);
    const auto folder = m_folders.find(folderId);
    if (folder == m_folders.end() || folder->second.owner != owner)
        return std::nullopt;
    SyncSnapshot snapshot;
    // Taken under the lock and after every change so far, so any later change
    // has a greater time and shows up in the next query.
    snapshot.serverTime = tick();
    snapshot.folder = folderView(folder->second.folder, owner);
    for (const auto &[id, record] : m_documents) {
        if (record.document.folderId != folderId)
            continue;
        if (record.document.deleted) {
            if (since && record.deletedAt > *since)
                snapshot.deletedIds.push_back(id);
        } else if (!since || record.changedAt > *since) {
            snapshot.documents.push_back(record);
        }
    }
    return snapshot;
}

std::optional<std::string> Store::createDownloadLink(const std::string &owner, int64_t documentId,
                                                     int lifetimeSeconds)
{
    const std::string token = randomHex(24);
    std::lock_guard lock(m_mutex);
    const auto it = m_documents.find(documentId);
    if (it == m_documents.end() || it->second.document.deleted || it->second.owner != owner)
        return std::nullopt;
    const auto now = std::chrono::steady_clock::now();
    // Expired links go first, soonest expiry first: a scan of every live
    // link per new one made a download of many files quadratic.
    while (!m_linkExpiries.empty() && m_linkExpiries.begin()->first <= now) {
        m_links.erase(m_linkExpiries.begin()->second);
        m_linkExpiries.erase(m_linkExpiries.begin());
    }
    const auto expires = now + std::chrono::seconds(lifetimeSeconds);
    m_links[token] = Link{documentId, expires};
    m_linkExpiries.emplace(expires, token);
    return token;
}

std::optional<DownloadTarget> Store::resolveDownloadLink(const std::string &token) const
{
    std::lock_guard lock(m_mutex);
    const auto link = m_links.find(token);
    if (link == m_links.end() || link->second.expires <= std::chrono::steady_clock::now())
        return std::nullopt;
    const auto it = m_documents.find(link->second.documentId);
    if (it == m_documents.end() || it->second.document.deleted)
        return std::nullopt;
    const int fd = ::open(it->second.contentPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    return DownloadTarget{std::make_shared<OpenFile>(fd), it->second.document.fileSize, it->second.contentType};
}

} // namespace devserver
