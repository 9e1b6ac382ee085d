#pragma once

#include "api/Records.h"
#include "api/SharedTexts.h"
#include "sync/SyncState.h"

#include <QHash>

#include <optional>
#include <vector>

// Records what was heard of a document; false when it was known as such.
bool remember(KnownDocuments &documents, qint64 id, const KnownDocument &heard);

// What an answer says of one of its documents; the time, which many share,
// is held once.
KnownDocument knownFrom(const SyncDocument &document, SharedTexts &times);

// What the server said of documents since some answer: a document as it
// was heard of, or none where it was deleted.
using HeardDocuments = QHash<qint64, std::optional<KnownDocument>>;

// A status answer applied to a copy of a folder's known documents as the
// answer is decoded: each listed document goes into the copy when it is
// read (take, on the decoder's thread), so that an answer listing 100,000
// documents is never held as a list besides the map it ends in. The
// answer's deletions come once it is whole (finish, on any one thread
// after the decoder): a document both listed and counted as deleted stays
// known, of the two readings the one that deletes nothing.
class KnownDocumentsUpdate {
public:
    explicit KnownDocumentsUpdate(KnownDocuments known) : m_documents(std::move(known)) {}

    void take(const SyncDocument &document);
    // What was heard before the answer, for the documents it does not list
    // (it is newer); before finish().
    void takeEarlier(const HeardDocuments &heard);
    void finish(const std::vector<qint64> &deletedIds);

    KnownDocuments &documents() { return m_documents; }
    // Whether anything the copy holds differs from what it was made of.
    bool changed() const { return m_changed; }
    // Whether the answer listed any document.
    bool listedAny() const { return !m_listed.empty(); }

private:
    bool listed(qint64 id);

    KnownDocuments m_documents;
    SharedTexts m_times;
    std::vector<qint64> m_listed; // ids in the order read; sorted by the first lookup
    bool m_listedSorted = false;
    bool m_changed = false;
};
