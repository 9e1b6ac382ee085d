#include "sync/FolderPlan.h"

#include "sync/ConflictDates.h"
#include "sync/ServerNames.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHash>
#include <algorithm>
#include <map>

namespace FolderPlanning {

namespace {

using LocalScanner::Absence;
using LocalScanner::FileFacts;
using LocalScanner::LocalFile;

// Modified no earlier than its facts were recorded, at the file system's
// time resolution: a later write within that resolution leaves the same
// facts, so the file's content is read again (as git's index does). Whole
// seconds mean a coarse file system; two seconds cover FAT's resolution.
// A time well after the recording (set by hand, a clock put back) is no
// write's stamp of that moment, so it does not make the file read forever.
bool racilyClean(const TrackedFile &entry)
{
    if (!entry.modifiedNs || !entry.recordedNs)
        return false;
    constexpr qint64 second = 1000000000;
    const qint64 modified = *entry.modifiedNs;
    const qint64 recorded = *entry.recordedNs;
    if (modified % second == 0)
        return modified > recorded - 2 * second && modified < recorded + 2 * second;
    return modified >= recorded && modified < recorded + second;
}

bool factsUnchanged(const TrackedFile &entry, const FileFacts &facts)
{
    return entry.size == facts.size && entry.inode == facts.inode && entry.modifiedNs == facts.modifiedNs
        && entry.changedNs == facts.changedNs && !racilyClean(entry);
}

QDateTime localTime(const FileFacts &facts)
{
    return QDateTime::fromMSecsSinceEpoch(facts.modifiedNs / 1000000, Qt::UTC);
}

// The later modification wins; a tie goes to the server.
bool localWins(const FileFacts &facts, const KnownDocument &document)
{
    return localTime(facts) > ConflictDates::remoteModificationTime(document.updatedAt);
}

QString relativeTo(const QString &folderPath, const QString &path)
{
    return path.mid(folderPath.size() + 1);
}

// One pass's decisions, built step by step over the facts.
class Planner {
public:
    explicit Planner(const FolderFacts &facts) : m_facts(facts)
    {
        m_documentsByName.reserve(facts.documents.size());
        for (auto it = facts.documents.cbegin(); it != facts.documents.cend(); ++it)
            m_documentsByName[it->name].push_back(it.key());
        m_listed.reserve(qsizetype(facts.listing.files.size()));
        for (const LocalFile &file : facts.listing.files)
            m_listed.insert(file.path, &file);
    }

    FolderPlan plan()
    {
        for (const LocalScanner::Unsynced &left : m_facts.listing.notSynced)
            notSynced(left.path, left.reason);
        repairSharedDocuments();
        findUntracked();
        planMoves();
        planUnlistedEntries();
        planTrackedFiles();
        planUntrackedFiles();
        planNewDocuments();
        return std::move(m_plan);
    }

private:
    // An entry of a state written before name clashes were told apart may
    // share its document with another path: one keeps it (the file whose
    // name is the document's, at the shallowest place), the others become
    // untracked files. Nothing is deleted for it.
    void repairSharedDocuments()
    {
        m_tracked = m_facts.tracked;
        // Most documents have one path: only the others need a look.
        m_claimed.reserve(m_facts.tracked.size());
        QSet<qint64> sharedIds;
        for (auto it = m_facts.tracked.cbegin(); it != m_facts.tracked.cend(); ++it) {
            if (m_claimed.contains(it->remoteId))
                sharedIds.insert(it->remoteId);
            else
                m_claimed.insert(it->remoteId);
        }
        if (sharedIds.isEmpty())
            return;
        QHash<qint64, QStringList> pathsById;
        for (auto it = m_facts.tracked.cbegin(); it != m_facts.tracked.cend(); ++it)
            if (sharedIds.contains(it->remoteId))
                pathsById[it->remoteId].append(it.key());
        for (auto shared = pathsById.cbegin(); shared != pathsById.cend(); ++shared) {
            const QStringList &paths = shared.value();
            const QString name = m_facts.documents.value(shared.key()).name;
            const auto score = [&](const QString &path) {
                const bool named = !name.isEmpty() && path.section(QLatin1Char('/'), -1) == name;
                return std::pair(!named, path.count(QLatin1Char('/')));
            };
            const QString keeper = *std::min_element(
                paths.begin(), paths.end(), [&](const QString &a, const QString &b) { return score(a) < score(b); });
            for (const QString &path : paths) {
                if (path != keeper) {
                    m_tracked.remove(path);
                    m_plan.forgotten.append(path);
                }
            }
        }
    }

    // The listed files no entry tracks, in listing order. Usually there are
    // none, which counting the entries found listed tells without looking
    // every listed path up among the entries.
    void findUntracked()
    {
        qsizetype trackedAndListed = 0;
        for (auto it = m_tracked.cbegin(); it != m_tracked.cend(); ++it)
            trackedAndListed += m_listed.contains(it.key()) ? 1 : 0;
        if (trackedAndListed == m_listed.size())
            return;
        for (const LocalFile &file : m_facts.listing.files)
            if (!m_tracked.contains(file.path))
                m_untracked.push_back(&file);
    }

    // A tracked file gone from its path whose very content stands, under the
    // same name, at a path no entry holds was moved within the folder: it
    // keeps its document, and neither side sees a deletion or a new file.
    void planMoves()
    {
        QHash<QString, std::vector<const LocalFile *>> untrackedByName;
        for (const LocalFile *file : m_untracked)
            untrackedByName[file->name].push_back(file);
        if (untrackedByName.isEmpty())
            return;
        std::vector<Move> moves;
        for (auto it = m_tracked.cbegin(); it != m_tracked.cend(); ++it) {
            const QString &path = it.key();
            if (m_listed.contains(path) || m_facts.unlisted.value(path, Absence::present) != Absence::gone)
                continue;
            auto candidates = untrackedByName.find(path.section(QLatin1Char('/'), -1));
            if (candidates == untrackedByName.end())
                continue;
            for (auto candidate = candidates->begin(); candidate != candidates->end(); ++candidate) {
                if (m_facts.hashes.value((*candidate)->path) == it->localHash) {
                    moves.push_back({path, (*candidate)->path});
                    candidates->erase(candidate);
                    break;
                }
            }
        }
        for (const Move &move : moves)
            m_tracked.insert(move.to, m_tracked.take(move.from));
        m_plan.moves = std::move(moves);
    }

    void planUnlistedEntries()
    {
        std::vector<ServerDeletion> removed;
        std::vector<Download> restorable;
        for (auto it = m_tracked.cbegin(); it != m_tracked.cend(); ++it) {
            const QString &path = it.key();
            if (m_listed.contains(path) || isBelowUnreadable(path))
                continue;
            const Absence absence = m_facts.unlisted.value(path, Absence::present);
            if (absence == Absence::present)
                continue; // still there, not a regular file: not known to be removed
            const auto document = m_facts.documents.constFind(it->remoteId);
            if (absence == Absence::crossesLink && document != m_facts.documents.cend()) {
                // A folder on the path is now a link or a file: nothing there
                // is ours, and the document belongs nowhere else either. The
                // entry stays (so the document is not brought down elsewhere)
                // until the folder is back.
                notSynced(path, QCoreApplication::translate("FolderPlan", "A folder on its path is now a symbolic link or a file; "
                                                                       "it syncs again when the folder is back"));
                continue;
            }
            if (document == m_facts.documents.cend()) {
                m_plan.forgotten.append(path); // gone on both sides
                continue;
            }
            Download again{document.key(), *document, path, Download::Placement::newFile, {}};
            if (document->fileHash != it->remoteHash) {
                // Changed on the server since the agreement: the edit beats
                // the removal, and the newer document comes down again.
                m_plan.downloads.push_back(again);
                continue;
            }
            removed.push_back({path, document.key(), *document});
            restorable.push_back(again);
        }

        const int trackedCount = int(m_tracked.size());
        const int removedCount = int(removed.size());
        const bool massRemoval = removedCount >= massRemovalMinimum && removedCount * 2 > trackedCount;
        if (!massRemoval || m_facts.removalAnswer == RemovalAnswer::remove) {
            m_plan.serverDeletions = std::move(removed);
        } else if (m_facts.removalAnswer == RemovalAnswer::restore) {
            m_plan.downloads.insert(m_plan.downloads.end(), restorable.begin(), restorable.end());
        } else {
            m_plan.removalQuestion = removedCount;
        }
    }

    void planTrackedFiles()
    {
        for (const LocalFile &file : m_facts.listing.files) {
            const auto entry = m_tracked.constFind(file.path);
            if (entry == m_tracked.cend())
                continue;
            const std::optional<ContentHash> hash = contentHash(file, &*entry);
            if (!hash)
                continue; // reported as not synced; its entry stays as it is
            const bool changed = *hash != entry->localHash;
            if (!changed && !factsUnchanged(*entry, file.facts))
                m_plan.refreshes.push_back({file.path, file.facts});

            const auto document = m_facts.documents.constFind(entry->remoteId);
            if (document == m_facts.documents.cend()) {
                planDocumentGone(file, *entry, *hash, changed);
                continue;
            }
            if (document->fileHash == *hash) {
                // The same content on both sides is agreed, whatever the
                // entry said (a record lost in a crash, say): never a conflict.
                if (changed || entry->remoteHash != document->fileHash)
                    m_plan.adoptions.push_back({file.path, document.key(), *document, *hash, file.facts});
                continue;
            }
            const bool serverChanged = document->fileHash != entry->remoteHash;
            if (!changed) {
                // Edited elsewhere while this copy stayed as agreed: the newer
                // version replaces it, and nothing is lost, since the agreed
                // content is what the server held before.
                if (serverChanged)
                    m_plan.downloads.push_back({document.key(), *document, file.path,
                                                entry->sentFromHere ? Download::Placement::replaceUnchanged
                                                                    : Download::Placement::update,
                                                *hash});
                continue;
            }
            if (!serverChanged)
                m_plan.uploads.push_back(
                    {file.path, file.name, file.facts,
                     std::make_shared<const DocumentVersion>(DocumentVersion{document.key(), *document}), false});
            else
                planConflict(file, document.key(), *document, *hash);
        }
    }

    // Both sides changed: the later modification keeps the name, and the
    // other version is kept beside it as a conflicted copy.
    void planConflict(const LocalFile &file, qint64 documentId, const KnownDocument &document, const ContentHash &hash)
    {
        if (localWins(file.facts, document))
            m_plan.uploads.push_back({file.path, file.name, file.facts,
                                     std::make_shared<const DocumentVersion>(DocumentVersion{documentId, document}), true});
        else
            m_plan.downloads.push_back({documentId, document, file.path, Download::Placement::replaceConflict, hash});
    }

    // The file's document was deleted on the server.
    void planDocumentGone(const LocalFile &file, const TrackedFile &entry, const ContentHash &hash, bool changed)
    {
        // Another document took the name (the file was moved or replaced on
        // another computer): the file goes on with that one.
        if (const auto successor = unclaimedDocumentNamed(file.name)) {
            const KnownDocument &document = m_facts.documents[*successor];
            m_claimed.insert(*successor);
            if (document.fileHash == hash)
                m_plan.adoptions.push_back({file.path, *successor, document, hash, file.facts});
            else
                m_plan.downloads.push_back({*successor, document, file.path,
                                            changed ? Download::Placement::replaceConflict
                                                    : Download::Placement::replaceUnchanged,
                                            hash});
            return;
        }
        if (!changed) {
            m_plan.localRemovals.push_back({file.path, entry.localHash});
            return;
        }
        // Changed here since: the user's newer work goes up as a new document.
        m_plan.forgotten.append(file.path);
        m_plan.keptAfterServerDeletion.append(file.path);
        m_newNames.insert(file.name);
        m_plan.uploads.push_back({file.path, file.name, file.facts, nullptr, false});
    }

    void planUntrackedFiles()
    {
        std::map<QString, std::vector<const LocalFile *>> untrackedByName;
        for (const LocalFile *file : m_untracked)
            if (!m_tracked.contains(file->path)) // unless a move made it tracked
                untrackedByName[file->name].push_back(file);
        if (untrackedByName.empty())
            return; // the usual pass: every file here is synced already
        // Which synced file holds each name: the first by path.
        const QSet<QString> forgotten(m_plan.forgotten.cbegin(), m_plan.forgotten.cend());
        for (auto it = m_tracked.cbegin(); it != m_tracked.cend(); ++it) {
            const QString name = it.key().section(QLatin1Char('/'), -1);
            if (!forgotten.contains(it.key()) && !m_trackedByName.contains(name))
                m_trackedByName.insert(name, it.key());
        }

        for (auto &[name, files] : untrackedByName) {
            // Of files sharing a name, the one nearest the top of the folder
            // comes first (then in listing order).
            std::stable_sort(files.begin(), files.end(), [](const LocalFile *a, const LocalFile *b) {
                return a->path.count(QLatin1Char('/')) < b->path.count(QLatin1Char('/'));
            });
            // A document of this name that no file here agreed with may be
            // one of these files already (same content): adopt it.
            for (const qint64 id : m_documentsByName.value(name)) {
                if (m_claimed.contains(id))
                    continue;
                const KnownDocument &document = m_facts.documents[id];
                for (auto candidate = files.begin(); candidate != files.end(); ++candidate) {
                    const auto hash = contentHash(**candidate, nullptr);
                    if (hash && document.fileHash == hash) {
                        m_plan.adoptions.push_back({(*candidate)->path, id, document, *hash, (*candidate)->facts});
                        m_claimed.insert(id);
                        files.erase(candidate);
                        break;
                    }
                }
            }
            if (files.empty())
                continue;
            if (m_facts.settleAsConflicts && settleAsConflict(*files.front())) {
                for (auto other = files.begin() + 1; other != files.end(); ++other)
                    notSynced((*other)->path, QCoreApplication::translate("FolderPlan", "Another file named %1 in this folder is synced: %2")
                                                  .arg(name, relativeTo(m_facts.folderPath, files.front()->path)));
                continue;
            }

            const QString holder = nameHolder(name);
            if (!holder.isEmpty()) {
                for (const LocalFile *file : files)
                    notSynced(file->path, holder);
                continue;
            }
            // The name is free: the first file takes it.
            m_plan.uploads.push_back({files.front()->path, name, files.front()->facts, nullptr, false});
            m_newNames.insert(name);
            for (auto other = files.begin() + 1; other != files.end(); ++other)
                notSynced((*other)->path, QCoreApplication::translate("FolderPlan", "Another file named %1 in this folder is synced: %2")
                                              .arg(name, relativeTo(m_facts.folderPath, files.front()->path)));
        }
    }

    // A file meeting a document of its name that no file agreed with, in a
    // folder just joined with that server folder: the two are one file
    // changed on both sides. False when there is no such document, or the
    // file could not be read.
    bool settleAsConflict(const LocalFile &file)
    {
        const auto documentId = unclaimedDocumentNamed(file.name);
        if (!documentId || m_trackedByName.contains(file.name) || m_newNames.contains(file.name))
            return false;
        const auto hash = contentHash(file, nullptr);
        if (!hash)
            return false;
        m_claimed.insert(*documentId);
        planConflict(file, *documentId, m_facts.documents[*documentId], *hash);
        return true;
    }

    // Why the name is not free for a new upload, or empty when it is.
    QString nameHolder(const QString &name) const
    {
        if (const auto holder = m_trackedByName.constFind(name); holder != m_trackedByName.cend())
            return QCoreApplication::translate("FolderPlan", "Another file named %1 in this folder is synced: %2")
                .arg(name, relativeTo(m_facts.folderPath, *holder));
        if (m_newNames.contains(name))
            return QCoreApplication::translate("FolderPlan", "Another file named %1 in this folder is synced").arg(name);
        if (!m_documentsByName.value(name).isEmpty())
            return QCoreApplication::translate("FolderPlan", "A different document named %1 is on the server").arg(name);
        return {};
    }

    void planNewDocuments()
    {
        // Of several unclaimed documents of one name, the newest is taken.
        // Usually every document is agreed with, and no local name need be
        // looked at.
        std::vector<std::pair<QString, qint64>> unclaimed;
        for (auto it = m_documentsByName.cbegin(); it != m_documentsByName.cend(); ++it)
            if (const auto newest = newestUnclaimed(it.value()))
                unclaimed.emplace_back(it.key(), *newest);
        if (unclaimed.empty())
            return;
        std::sort(unclaimed.begin(), unclaimed.end()); // downloads in name order
        QSet<QString> localNames;
        for (const LocalFile &file : m_facts.listing.files)
            localNames.insert(file.name);
        for (auto it = m_tracked.cbegin(); it != m_tracked.cend(); ++it)
            localNames.insert(it.key().section(QLatin1Char('/'), -1));

        for (const auto &[name, newest] : unclaimed) {
            if (localNames.contains(name))
                continue; // a local file holds the name (reported above)
            const QString destination = m_facts.folderPath + QLatin1Char('/') + name;
            if (!ServerNames::isPlainFileName(name)) {
                m_plan.skippedDocuments.push_back(
                    {destination, QStringLiteral("Skipped server document with an unusable name: \"%1\"")
                                      .arg(ServerNames::printable(name))});
                continue;
            }
            if (LocalScanner::isIgnoredName(name))
                continue; // it would never be listed, so it would come down on every pass
            if (m_facts.listing.topLevelOthers.contains(name)) {
                m_plan.skippedDocuments.push_back(
                    {destination, QStringLiteral("Skipped download of %1: something else is at %2").arg(name, destination)});
                continue;
            }
            m_plan.downloads.push_back({newest, m_facts.documents[newest], destination,
                                        Download::Placement::newFile, {}});
        }
    }

    std::optional<qint64> unclaimedDocumentNamed(const QString &name) const
    {
        return newestUnclaimed(m_documentsByName.value(name));
    }

    std::optional<qint64> newestUnclaimed(const QList<qint64> &documentIds) const
    {
        std::optional<qint64> newest;
        for (const qint64 id : documentIds)
            if (!m_claimed.contains(id))
                newest = std::max(newest.value_or(id), id);
        return newest;
    }

    // The file's content hash, from its entry when the file system says it
    // is unchanged, else as read before deciding. A file that could not be
    // read is reported and has none.
    std::optional<ContentHash> contentHash(const LocalFile &file, const TrackedFile *entry)
    {
        if (entry && factsUnchanged(*entry, file.facts))
            return entry->localHash;
        if (const auto hash = m_facts.hashes.constFind(file.path); hash != m_facts.hashes.cend())
            return *hash;
        if (!m_reportedUnreadable.contains(file.path)) {
            m_reportedUnreadable.insert(file.path);
            notSynced(file.path, m_facts.unreadable.value(file.path, QCoreApplication::translate("FolderPlan", "The file could not be read")));
        }
        return std::nullopt;
    }

    bool isBelowUnreadable(const QString &path) const
    {
        return std::any_of(m_facts.listing.unreadableDirectories.cbegin(), m_facts.listing.unreadableDirectories.cend(),
                           [&](const QString &directory) { return path.startsWith(directory + QLatin1Char('/')); });
    }

    void notSynced(const QString &path, const QString &reason) { m_plan.notSynced.push_back({path, reason}); }

    const FolderFacts &m_facts;
    FolderPlan m_plan;
    TrackedFiles m_tracked; // after the repair
    QHash<QString, const LocalFile *> m_listed;
    std::vector<const LocalFile *> m_untracked; // as the plan began, before any move
    QHash<QString, QList<qint64>> m_documentsByName;
    QSet<qint64> m_claimed;     // documents a local file goes with
    QSet<QString> m_newNames;   // names taken by new uploads of this plan
    QHash<QString, QString> m_trackedByName; // name -> the synced path holding it
    QSet<QString> m_reportedUnreadable;
};

} // namespace

QStringList pathsToHash(const FolderFacts &facts)
{
    // The names an untracked file may be matched by, gathered only when
    // there is one: usually every listed file is tracked.
    std::optional<QSet<QString>> namesToMatch;
    const auto matchable = [&](const QString &name) {
        if (!namesToMatch) {
            namesToMatch.emplace();
            for (const KnownDocument &document : facts.documents)
                namesToMatch->insert(document.name);
            for (auto it = facts.unlisted.cbegin(); it != facts.unlisted.cend(); ++it)
                if (it.value() == LocalScanner::Absence::gone)
                    namesToMatch->insert(it.key().section(QLatin1Char('/'), -1));
        }
        return namesToMatch->contains(name);
    };
    QStringList paths;
    for (const LocalFile &file : facts.listing.files) {
        const auto entry = facts.tracked.constFind(file.path);
        if (entry != facts.tracked.cend() ? !factsUnchanged(*entry, file.facts) : matchable(file.name))
            paths.append(file.path);
    }
    return paths;
}

FolderPlan planFolder(const FolderFacts &facts)
{
    return Planner(facts).plan();
}

} // namespace FolderPlanning

bool FolderPlanning::FolderPlan::hasWork() const
{
    return !uploads.empty() || !downloads.empty() || !adoptions.empty() || !localRemovals.empty()
        || !serverDeletions.empty() || !refreshes.empty() || !moves.empty() || !forgotten.isEmpty()
        || !keptAfterServerDeletion.isEmpty() || removalQuestion > 0;
}
