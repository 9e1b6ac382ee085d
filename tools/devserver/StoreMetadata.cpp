// Conversion of the store's metadata to and from JSON, for a server that
// keeps its data directory across restarts.
#include "Store.h"

#include <filesystem>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace devserver {

json Store::metadata() const
{
    std::lock_guard lock(m_mutex);
    json folders = json::array();
    for (const auto &[id, entry] : m_folders)
        folders.push_back({{"id", id},
                           {"name", entry.folder.name},
                           {"parent_id", entry.folder.parentId ? json(*entry.folder.parentId) : json(nullptr)},
                           {"owner", entry.owner},
                           {"created_us", entry.createdAt},
                           {"updated_us", entry.updatedAt}});
    json documents = json::array();
    for (const auto &[id, record] : m_documents) {
        const auto &d = record.document;
        documents.push_back({{"id", id},
                             {"folder_id", d.folderId},
                             {"name", d.name},
                             {"file_hash", d.fileHash},
                             {"file_size", d.fileSize},
                             {"version", d.version},
                             {"created_at", d.createdAt},
                             {"updated_at", d.updatedAt},
                             {"deleted", d.deleted},
                             {"owner", record.owner},
                             {"content_type", record.contentType},
                             {"content_file", std::filesystem::path(record.contentPath).filename().string()},
                             {"changed_us", record.changedAt},
                             {"deleted_us", record.deletedAt}});
    }
    return {{"format", 1},
            {"last_tick_us", m_lastTick},
            {"next_folder_id", m_nextFolderId},
            {"next_document_id", m_nextDocumentId},
            {"tokens", m_tokens},
            {"folders", folders},
            {"documents", documents}};
}

void Store::restoreMetadata(const json &metadata)
{
    try {
        if (metadata.at("format").get<int>() != 1)
            throw std::runtime_error("unknown metadata format");
        std::map<int64_t, FolderEntry> folders;
        for (const auto &item : metadata.at("folders")) {
            FolderEntry entry;
            entry.folder.id = item.at("id").get<int64_t>();
            entry.folder.name = item.at("name").get<std::string>();
            if (!item.at("parent_id").is_null())
                entry.folder.parentId = item.at("parent_id").get<int64_t>();
            entry.owner = item.at("owner").get<std::string>();
            entry.createdAt = item.at("created_us").get<Micros>();
            entry.updatedAt = item.at("updated_us").get<Micros>();
            folders[entry.folder.id] = entry;
        }
        std::map<int64_t, DocumentRecord> documents;
        std::map<int64_t, std::map<std::string, int64_t>> live;
        const auto contentDir = std::filesystem::path(m_dataDir) / "documents";
        for (const auto &item : metadata.at("documents")) {
            DocumentRecord record;
            auto &d = record.document;
            d.id = item.at("id").get<int64_t>();
            d.folderId = item.at("folder_id").get<int64_t>();
            d.name = item.at("name").get<std::string>();
            d.fileHash = item.at("file_hash").get<std::string>();
            d.fileSize = item.at("file_size").get<int64_t>();
            d.version = item.at("version").get<int>();
            d.createdAt = item.at("created_at").get<std::string>();
            d.updatedAt = item.at("updated_at").get<std::string>();
            d.deleted = item.at("deleted").get<bool>();
            record.owner = item.at("owner").get<std::string>();
            record.contentType = item.at("content_type").get<std::string>();
            // Only a bare file name, so a doctored file cannot point outside the data directory.
            const std::string file = item.at("content_file").get<std::string>();
            if (file.empty() || file.find('/') != std::string::npos || file == "." || file == "..")
                throw std::runtime_error("bad content file name");
            record.contentPath = (contentDir / file).string();
            record.changedAt = item.at("changed_us").get<Micros>();
            record.deletedAt = item.at("deleted_us").get<Micros>();
            if (!d.deleted)
                live[d.folderId][d.name] = d.id;
            documents[d.id] = record;
        }
        std::lock_guard lock(m_mutex);
        m_lastTick = metadata.at("last_tick_us").get<Micros>();
        m_nextFolderId = metadata.at("next_folder_id").get<int64_t>();
        m_nextDocumentId = metadata.at("next_document_id").get<int64_t>();
        m_tokens = metadata.at("tokens").get<std::map<std::string, std::string>>();
        m_folders = std::move(folders);
        m_documents = std::move(documents);
        m_liveByFolder = std::move(live);
    } catch (const json::exception &error) {
        throw std::runtime_error(std::string("metadata is not in the expected form: ") + error.what());
    }
}

} // namespace devserver
