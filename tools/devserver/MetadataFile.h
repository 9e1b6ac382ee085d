#pragma once

#include "Store.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace devserver {

// Keeps "metadata.json" in the data directory in step with the store, so a
// restarted server still knows its folders, documents and sessions. Saves
// at most twice a second, and once more when it ends; each save replaces
// the file atomically.
class MetadataFile {
public:
    // Restores the store from an existing file; throws std::runtime_error if
    // that file cannot be read, rather than overwriting it later.
    explicit MetadataFile(Store &store);
    ~MetadataFile();
    MetadataFile(const MetadataFile &) = delete;
    MetadataFile &operator=(const MetadataFile &) = delete;

    void saveNow();

private:
    void run();

    Store &m_store;
    std::string m_path;
    uint64_t m_savedRevision = 0;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace devserver
