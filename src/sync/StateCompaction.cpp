#include "sync/StateCompaction.h"

#include "sync/SharedTexts.h"

namespace {

// A text of its own, not one shared with the original.
QString ownCopy(const QString &text)
{
    return text.isNull() ? QString() : QString(text.constData(), text.size());
}

} // namespace

CompactedMaps compactedMaps(const SyncState &state)
{
    CompactedMaps maps;
    SharedTexts times;
    for (auto it = state.trackedFiles.cbegin(); it != state.trackedFiles.cend(); ++it) {
        TrackedFile entry = it.value();
        entry.lastSynced = times.take(ownCopy(entry.lastSynced));
        // In key order, so each insert goes at the end.
        maps.trackedFiles.insert(ownCopy(it.key()), entry);
    }
    for (auto folder = state.serverDocuments.cbegin(); folder != state.serverDocuments.cend(); ++folder) {
        KnownDocuments documents;
        for (auto it = folder->cbegin(); it != folder->cend(); ++it) {
            KnownDocument document = it.value();
            document.name = ownCopy(document.name);
            document.updatedAt = times.take(ownCopy(document.updatedAt));
            documents.insert(it.key(), document);
        }
        maps.serverDocuments.insert(maps.serverDocuments.cend(), folder.key(), documents);
    }
    return maps;
}
