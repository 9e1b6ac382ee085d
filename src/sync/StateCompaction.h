#pragma once

#include "sync/SyncState.h"

// A pass that changes thousands of entries leaves them scattered through
// the heap among the freed remains of its answers and plans, and the heap
// cannot hand back pages that still hold one live entry. A copy of the
// state's two large maps made in one go, texts included, lies close
// together; once it replaces them, the scattered originals can be freed and
// their pages handed back.
struct CompactedMaps {
    TrackedFiles trackedFiles;
    QMap<qint64, KnownDocuments> serverDocuments;
};
CompactedMaps compactedMaps(const SyncState &state);
