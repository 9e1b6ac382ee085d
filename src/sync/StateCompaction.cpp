#include "sync/StateCompaction.h"

#include "api/SharedTexts.h"

namespace {

// A text of its own, not one shared with the original.
QString ownCopy(const QString &text)
{
    return text.isNull() ? QString() : QString(text.constData(), text.size());
}

} // namespace

TrackedFiles compactedTrackedFiles(const TrackedFiles &trackedFiles)
{
    TrackedFiles copy;
    SharedTexts times;
    for (auto it = trackedFiles.cbegin(); it != trackedFiles.cend(); ++it) {
        TrackedFile entry = it.value();
        entry.lastSynced = times.take(ownCopy(entry.lastSynced));
        // In key order, so each insert goes at the end.
        copy.insert(ownCopy(it.key()), entry);
    }
    return copy;
}

QMap<qint64, KnownDocuments> compactedServerDocuments(const QMap<qint64, KnownDocuments> &serverDocuments)
{
    QMap<qint64, KnownDocuments> copy;
    SharedTexts times;
    for (auto folder = serverDocuments.cbegin(); folder != serverDocuments.cend(); ++folder) {
        KnownDocuments documents;
        for (auto it = folder->cbegin(); it != folder->cend(); ++it) {
            KnownDocument document = it.value();
            document.name = ownCopy(document.name);
            document.updatedAt = times.take(ownCopy(document.updatedAt));
            documents.insert(it.key(), document);
        }
        copy.insert(copy.cend(), folder.key(), documents);
    }
    return copy;
}
