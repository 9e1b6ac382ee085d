#include "sync/Reconciler.h"

#include "platform/Logging.h"
#include "sync/ConflictDates.h"
#include "sync/ServerNames.h"

#include <QFile>

#include <cerrno>
#include <map>
#include <sys/stat.h>

namespace Reconciler {

namespace {

// Two documents of one name in an answer: the later one in the answer is used.
std::map<QString, SyncDocument> byName(const std::vector<SyncDocument> &documents)
{
    std::map<QString, SyncDocument> remote;
    for (const SyncDocument &document : documents)
        remote.insert_or_assign(document.name, document);
    return remote;
}

void planLocalFiles(const LocalScanner::Listing &listing, const std::map<QString, SyncDocument> &remoteByName,
                    const QMap<QString, TrackedFile> &trackedFiles, FolderPlan &plan)
{
    for (const auto &[name, path] : listing.files) {
        const auto tracked = trackedFiles.constFind(path);
        const auto remote = remoteByName.find(name);
        if (tracked == trackedFiles.cend()) {
            // A new local file goes up; one that meets a document of its name
            // is left alone rather than guessed about.
            if (remote == remoteByName.end())
                plan.uploads.push_back({path, name});
            continue;
        }
        if (LocalScanner::computeFileHash(path) == tracked->localHash)
            continue; // unchanged here; a newer server version is not fetched
        if (remote == remoteByName.end() || remote->second.fileHash == tracked->remoteHash) {
            plan.uploads.push_back({path, name}); // only the local side changed
            continue;
        }
        // Changed on both sides: the later modification wins, a tie goes to the server.
        const QDateTime localTime = LocalScanner::fileModificationDate(path);
        if (localTime > ConflictDates::remoteModificationTime(remote->second.updatedAt))
            plan.uploads.push_back({path, name});
        else
            plan.downloads.push_back({remote->second, path});
    }
}

void planServerDocuments(const QString &folderPath, const LocalScanner::Listing &listing,
                         const std::map<QString, SyncDocument> &remoteByName,
                         const QMap<QString, TrackedFile> &trackedFiles, FolderPlan &plan)
{
    for (const auto &[name, document] : remoteByName) {
        if (!ServerNames::isPlainFileName(name)) {
            qCCritical(lcSyncEngine, "Skipped server document with an unusable name: \"%s\"",
                       qUtf8Printable(ServerNames::printable(name)));
            continue;
        }
        if (LocalScanner::isIgnoredName(name))
            continue; // would never be listed, so it would come down on every pass
        const QString destination = folderPath + QLatin1Char('/') + name;
        if (trackedFiles.contains(destination) || listing.files.count(name))
            continue;
        if (existsAt(destination)) {
            // Not a regular file (a directory, a link...): the user's, not ours to replace.
            qCCritical(lcSyncEngine, "Skipped download of %s: something else is at %s",
                       qUtf8Printable(name), qUtf8Printable(destination));
            continue;
        }
        plan.downloads.push_back({document, destination});
    }
}

} // namespace

FolderPlan planFolder(const QString &folderPath, const LocalScanner::Listing &listing,
                      const std::vector<SyncDocument> &documents,
                      const QMap<QString, TrackedFile> &trackedFiles)
{
    const std::map<QString, SyncDocument> remoteByName = byName(documents);
    FolderPlan plan;
    planLocalFiles(listing, remoteByName, trackedFiles, plan);
    planServerDocuments(folderPath, listing, remoteByName, trackedFiles, plan);
    return plan;
}

bool existsAt(const QString &path)
{
    // Only a definite "no such entry" counts as absent: a path that cannot
    // be examined may well hold something.
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) == 0)
        return true;
    return errno != ENOENT && errno != ENOTDIR;
}

} // namespace Reconciler
