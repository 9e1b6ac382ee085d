#pragma once

#include "sync/SyncState.h"

// A pass that changes thousands of entries leaves them scattered through
// the heap among the freed remains of its answers and plans, and the heap
// cannot hand back pages that still hold one live entry. A copy of one of
// the state's two large maps made in one go, texts included, lies close
// together; once it replaces the original, the scattered original can be
// freed and its pages handed back. One map at a time, so that only one is
// held twice at any moment.
TrackedFiles compactedTrackedFiles(const TrackedFiles &trackedFiles);
QMap<qint64, KnownDocuments> compactedServerDocuments(const QMap<qint64, KnownDocuments> &serverDocuments);
