#include "sync/KnownDocumentsUpdate.h"

#include <algorithm>

bool remember(KnownDocuments &documents, qint64 id, const KnownDocument &heard)
{
    const auto before = documents.constFind(id);
    if (before != documents.cend() && *before == heard)
        return false; // left alone, a chunk shared with other copies stays shared
    documents.insert(id, heard);
    return true;
}

KnownDocument knownFrom(const SyncDocument &document, SharedTexts &times)
{
    return KnownDocument{document.name, document.fileHash, document.fileSize, times.take(document.updatedAt)};
}

void KnownDocumentsUpdate::take(const SyncDocument &document)
{
    m_changed = remember(m_documents, document.id, knownFrom(document, m_times)) || m_changed;
    m_listed.push_back(document.id);
}

bool KnownDocumentsUpdate::listed(qint64 id)
{
    if (!m_listedSorted) {
        std::sort(m_listed.begin(), m_listed.end());
        m_listedSorted = true;
    }
    return std::binary_search(m_listed.cbegin(), m_listed.cend(), id);
}

void KnownDocumentsUpdate::takeEarlier(const HeardDocuments &heard)
{
    for (auto it = heard.cbegin(); it != heard.cend(); ++it) {
        if (listed(it.key()))
            continue;
        if (*it)
            m_changed = remember(m_documents, it.key(), **it) || m_changed;
        else
            m_changed = m_documents.remove(it.key()) > 0 || m_changed;
    }
}

void KnownDocumentsUpdate::finish(const std::vector<qint64> &deletedIds)
{
    for (const qint64 id : deletedIds)
        if (!listed(id))
            m_changed = m_documents.remove(id) > 0 || m_changed;
}
