#pragma once

#include "sync/LocalScanner.h"
#include "sync/SyncEngine.h"
#include "sync/SyncState.h"

#include <QMap>
#include <vector>

// Decides, for one watched folder, which files go up and which documents
// come down. Reads the local files (hashes, modification times); changes
// nothing.
namespace Reconciler {

struct FolderPlan {
    std::vector<SyncEngine::UploadItem> uploads;
    std::vector<SyncEngine::DownloadItem> downloads;
};

// Local files first (in listing order), then server documents (by name).
// Throws FileError when a tracked file cannot be hashed; nothing has been
// decided for the folder then.
FolderPlan planFolder(const QString &folderPath, const LocalScanner::Listing &listing,
                      const std::vector<SyncDocument> &documents,
                      const QMap<QString, TrackedFile> &trackedFiles);

// Something (file, directory, link, even a dangling one) is at the path, or
// the path cannot be examined.
bool existsAt(const QString &path);

} // namespace Reconciler
