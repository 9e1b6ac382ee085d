#include "MetadataFile.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace fs = std::filesystem;

namespace devserver {

MetadataFile::MetadataFile(Store &store)
    : m_store(store), m_path((fs::path(store.dataDir()) / "metadata.json").string())
{
    if (fs::exists(m_path)) {
        std::ifstream file(m_path);
        const nlohmann::json metadata = nlohmann::json::parse(file, nullptr, false);
        if (metadata.is_discarded())
            throw std::runtime_error(m_path + " is not valid JSON; move it away to start with an empty server");
        try {
            m_store.restoreMetadata(metadata);
        } catch (const std::runtime_error &error) {
            throw std::runtime_error(m_path + ": " + error.what() + "; move it away to start with an empty server");
        }
    }
    m_savedRevision = m_store.revision();
    m_thread = std::thread([this] { run(); });
}

MetadataFile::~MetadataFile()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    saveNow();
}

void MetadataFile::saveNow()
{
    const uint64_t revision = m_store.revision();
    if (revision == m_savedRevision)
        return;
    const std::string text = m_store.metadata().dump(1);
    const std::string temporary = m_path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::trunc);
        file << text;
        if (!file)
            return; // the next save tries again; the old file stays intact
    }
    std::error_code error;
    fs::rename(temporary, m_path, error);
    if (!error)
        m_savedRevision = revision;
}

void MetadataFile::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, std::chrono::milliseconds(500));
        if (m_stopping)
            break;
        lock.unlock();
        saveNow();
        lock.lock();
    }
}

} // namespace devserver
