// The folder plan as a table: facts in, decisions out, no files or server.
#include "sync/FolderPlan.h"

#include <gtest/gtest.h>

using namespace FolderPlanning;
using LocalScanner::Absence;
using LocalScanner::FileFacts;

namespace {

const QString folder = QStringLiteral("/home/u/Docs");

QString at(const QString &relative)
{
    return folder + QLatin1Char('/') + relative;
}

FileFacts factsAt(qint64 modifiedSeconds, qint64 size = 10)
{
    return FileFacts{size, 7, modifiedSeconds * 1000000000, modifiedSeconds * 1000000000};
}

// Builds the facts of one folder, a file or document at a time.
struct Scenario {
    FolderFacts facts;
    Scenario()
    {
        facts.folderPath = folder;
        facts.listing.readable = true;
    }
    // A file on disk; `hash` is what reading it gives.
    Scenario &file(const QString &relative, const QString &hash, qint64 modified = 1000)
    {
        facts.listing.files.push_back({at(relative), relative.section('/', -1), factsAt(modified)});
        facts.hashes.insert(at(relative), hash);
        return *this;
    }
    // An entry agreed at `hash` with document `id`, whose server hash then was `remoteHash`;
    // `sameFacts` says the file system still describes the file as it did then.
    Scenario &tracked(const QString &relative, qint64 id, const QString &hash, const QString &remoteHash,
                      bool sameFacts = false)
    {
        TrackedFile entry;
        entry.localHash = hash;
        entry.remoteId = id;
        entry.remoteHash = remoteHash;
        if (sameFacts) {
            const FileFacts f = factsAt(1000);
            entry.size = f.size, entry.inode = f.inode, entry.modifiedNs = f.modifiedNs, entry.changedNs = f.changedNs;
        }
        facts.tracked.insert(at(relative), entry);
        return *this;
    }
    Scenario &document(qint64 id, const QString &name, const QString &hash, const char *updatedAt = "2026-01-01T00:00:00Z")
    {
        facts.documents.insert(id, KnownDocument{name, hash, 10, QString::fromLatin1(updatedAt)});
        return *this;
    }
    Scenario &gone(const QString &relative, Absence absence = Absence::gone)
    {
        facts.unlisted.insert(at(relative), absence);
        return *this;
    }
    FolderPlan plan() const { return planFolder(facts); }
};

QStringList uploads(const FolderPlan &plan)
{
    QStringList paths;
    for (const Upload &upload : plan.uploads)
        paths << upload.path.mid(folder.size() + 1);
    return paths;
}

QStringList downloads(const FolderPlan &plan)
{
    static const char *const placements[] = {"new", "update", "trash", "conflict"};
    QStringList items;
    for (const Download &download : plan.downloads)
        items << QStringLiteral("%1->%2:%3")
                     .arg(download.documentId)
                     .arg(download.destination.mid(folder.size() + 1))
                     .arg(QLatin1String(placements[int(download.placement)]));
    return items;
}

QStringList notSynced(const FolderPlan &plan)
{
    QStringList paths;
    for (const Skipped &skipped : plan.notSynced)
        paths << skipped.path.mid(folder.size() + 1);
    return paths;
}

} // namespace

TEST(FolderPlanTest, TrackedFilesFollowTheAgreementRows)
{
    // Unchanged on both sides: nothing.
    const FolderPlan still = Scenario().file("a.txt", "h1").tracked("a.txt", 1, "h1", "r1").document(1, "a.txt", "r1").plan();
    EXPECT_TRUE(still.uploads.empty() && still.downloads.empty() && still.adoptions.empty());
    // Changed on the server only: the newer version replaces the agreed one.
    const FolderPlan edited = Scenario().file("a.txt", "h1").tracked("a.txt", 1, "h1", "r1").document(1, "a.txt", "r2").plan();
    EXPECT_EQ(downloads(edited), QStringList{"1->a.txt:update"});
    EXPECT_EQ(edited.downloads.front().expectedLocalHash, "h1");
    EXPECT_TRUE(edited.uploads.empty());
    // A version this computer sent may never have been seen elsewhere: the
    // Trash keeps it.
    Scenario sentHere;
    sentHere.file("a.txt", "h1").tracked("a.txt", 1, "h1", "r1").document(1, "a.txt", "r2");
    sentHere.facts.tracked[at("a.txt")].sentFromHere = true;
    EXPECT_EQ(downloads(sentHere.plan()), QStringList{"1->a.txt:trash"});
    // Changed here only: up, with nothing to keep.
    const FolderPlan local = Scenario().file("a.txt", "h2").tracked("a.txt", 1, "h1", "r1").document(1, "a.txt", "r1").plan();
    EXPECT_EQ(uploads(local), QStringList{"a.txt"});
    ASSERT_TRUE(local.uploads.front().replaces);
    EXPECT_EQ(local.uploads.front().replaces->document.fileHash, "r1");
    EXPECT_FALSE(local.uploads.front().keepReplaced);
    // Changed on both sides to the same content: agreed, no transfer.
    const FolderPlan same = Scenario().file("a.txt", "r2").tracked("a.txt", 1, "h1", "r1").document(1, "a.txt", "r2").plan();
    EXPECT_TRUE(same.uploads.empty() && same.downloads.empty());
    ASSERT_EQ(same.adoptions.size(), 1u);
    EXPECT_EQ(same.adoptions.front().localHash, "r2");
    // An entry whose server hash was lost is corrected when the contents agree.
    EXPECT_EQ(Scenario().file("a.txt", "h1").tracked("a.txt", 1, "h1", "r0").document(1, "a.txt", "h1").plan().adoptions.size(),
              1u);
    // Changed on both sides: the later time keeps the name; the server's
    // version is kept first when the local one wins, and a tie goes to the
    // server, whose download keeps the local version as a conflict copy.
    const qint64 serverTime = QDateTime::fromString("2026-01-01T10:00:00Z", Qt::ISODate).toSecsSinceEpoch();
    const FolderPlan later = Scenario().file("a.txt", "h2", serverTime + 5).tracked("a.txt", 1, "h1", "r1")
                                 .document(1, "a.txt", "r2", "2026-01-01T10:00:00Z").plan();
    EXPECT_EQ(uploads(later), QStringList{"a.txt"});
    EXPECT_TRUE(later.uploads.front().keepReplaced);
    EXPECT_EQ(later.uploads.front().replaces->documentId, 1);
    const FolderPlan tie = Scenario().file("a.txt", "h2", serverTime).tracked("a.txt", 1, "h1", "r1")
                               .document(1, "a.txt", "r2", "2026-01-01T10:00:00Z").plan();
    EXPECT_EQ(downloads(tie), QStringList{"1->a.txt:conflict"});
    EXPECT_EQ(tie.downloads.front().expectedLocalHash, "h2");
    // An unreadable server time loses.
    EXPECT_EQ(uploads(Scenario().file("a.txt", "h2", 1).tracked("a.txt", 1, "h1", "r1").document(1, "a.txt", "r2", "yesterday").plan()),
              QStringList{"a.txt"});
}

TEST(FolderPlanTest, AFileMovedWithinTheFolderKeepsItsDocument)
{
    // Same name and content at another path: the entry moves, nothing else.
    Scenario moved;
    moved.file("Archive/a.txt", "h1").tracked("a.txt", 1, "h1", "r1").gone("a.txt").document(1, "a.txt", "r1");
    EXPECT_EQ(pathsToHash(moved.facts), QStringList{at("Archive/a.txt")});
    const FolderPlan plan = moved.plan();
    ASSERT_EQ(plan.moves.size(), 1u);
    EXPECT_EQ(plan.moves.front().from, at("a.txt"));
    EXPECT_EQ(plan.moves.front().to, at("Archive/a.txt"));
    EXPECT_TRUE(plan.serverDeletions.empty() && plan.uploads.empty() && plan.downloads.empty() && plan.notSynced.empty());
    // Moved while the server got a newer version: it comes down at the new place.
    EXPECT_EQ(downloads(Scenario().file("Archive/a.txt", "h1").tracked("a.txt", 1, "h1", "r1").gone("a.txt")
                            .document(1, "a.txt", "r2").plan()),
              QStringList{"1->Archive/a.txt:update"});
    // Other content is another file: the old one's removal goes on, and the
    // new one waits for the name.
    const FolderPlan other = Scenario().file("Archive/a.txt", "h9").tracked("a.txt", 1, "h1", "r1").gone("a.txt")
                                 .document(1, "a.txt", "r1").plan();
    EXPECT_TRUE(other.moves.empty());
    EXPECT_EQ(other.serverDeletions.size(), 1u);
    EXPECT_EQ(notSynced(other), QStringList{"Archive/a.txt"});
}

TEST(FolderPlanTest, AFolderJoinedWithAnotherServerFolderSettlesClashesAsConflicts)
{
    const qint64 serverTime = QDateTime::fromString("2026-01-01T10:00:00Z", Qt::ISODate).toSecsSinceEpoch();
    Scenario newer;
    newer.file("a.txt", "mine", serverTime + 5).document(5, "a.txt", "theirs", "2026-01-01T10:00:00Z");
    EXPECT_EQ(notSynced(newer.plan()), QStringList{"a.txt"});
    newer.facts.settleAsConflicts = true;
    const FolderPlan settled = newer.plan();
    EXPECT_TRUE(settled.notSynced.empty());
    EXPECT_EQ(uploads(settled), QStringList{"a.txt"});
    EXPECT_TRUE(settled.uploads.front().keepReplaced);

    Scenario older;
    older.file("a.txt", "mine", serverTime - 5).document(5, "a.txt", "theirs", "2026-01-01T10:00:00Z");
    older.facts.settleAsConflicts = true;
    EXPECT_EQ(downloads(older.plan()), QStringList{"5->a.txt:conflict"});
}

TEST(FolderPlanTest, UnchangedFactsSpareTheReadAndChangedOnesAreRefreshed)
{
    Scenario same;
    same.file("a.txt", "ignored").tracked("a.txt", 1, "h1", "r1", /*sameFacts=*/true).document(1, "a.txt", "r1");
    EXPECT_TRUE(pathsToHash(same.facts).isEmpty());
    EXPECT_TRUE(same.plan().uploads.empty());

    Scenario touched;
    touched.file("a.txt", "h1").tracked("a.txt", 1, "h1", "r1").document(1, "a.txt", "r1");
    EXPECT_EQ(pathsToHash(touched.facts), QStringList{at("a.txt")});
    const FolderPlan plan = touched.plan();
    EXPECT_TRUE(plan.uploads.empty());
    ASSERT_EQ(plan.refreshes.size(), 1u);
}

TEST(FolderPlanTest, NewFilesAndDocumentsMeetByNameAndContent)
{
    // A new file goes up; a new document comes down to the top of the folder.
    EXPECT_EQ(uploads(Scenario().file("Sub/new.txt", "h").plan()), QStringList{"Sub/new.txt"});
    EXPECT_EQ(downloads(Scenario().document(5, "doc.txt", "r").plan()), QStringList{"5->doc.txt:new"});
    // Same name and content (a lost state): agreed with no transfer.
    const FolderPlan adopted = Scenario().file("Sub/doc.txt", "r").document(5, "doc.txt", "r").plan();
    ASSERT_EQ(adopted.adoptions.size(), 1u);
    EXPECT_EQ(adopted.adoptions.front().path, at("Sub/doc.txt"));
    EXPECT_TRUE(adopted.uploads.empty() && adopted.downloads.empty());
    // Same name, other content: neither sent nor fetched, and reported.
    const FolderPlan clash = Scenario().file("doc.txt", "mine").document(5, "doc.txt", "theirs").plan();
    EXPECT_TRUE(clash.uploads.empty() && clash.downloads.empty());
    EXPECT_EQ(notSynced(clash), QStringList{"doc.txt"});
    // Unusable and ignored names never come down; nor over a directory.
    Scenario odd;
    odd.document(6, "../x", "r").document(7, "~lock", "r").document(8, "Sub", "r");
    odd.facts.listing.topLevelOthers.insert("Sub");
    const FolderPlan oddPlan = odd.plan();
    EXPECT_TRUE(oddPlan.downloads.empty());
    EXPECT_EQ(oddPlan.skippedDocuments.size(), 2u);
}

TEST(FolderPlanTest, SameNamedFilesNeverShareADocument)
{
    // New files of one name: the one nearest the top goes up, the others wait.
    const FolderPlan fresh = Scenario().file("a/x.txt", "h1").file("b/x.txt", "h2").plan();
    EXPECT_EQ(uploads(fresh), QStringList{"a/x.txt"});
    EXPECT_EQ(notSynced(fresh), QStringList{"b/x.txt"});
    const FolderPlan top = Scenario().file("Archive/x.txt", "h1").file("x.txt", "h2").plan();
    EXPECT_EQ(uploads(top), QStringList{"x.txt"});
    // Once one is synced, the other is never uploaded over its document.
    const FolderPlan later =
        Scenario().file("a/x.txt", "h1").file("b/x.txt", "h2").tracked("a/x.txt", 1, "h1", "h1").document(1, "x.txt", "h1").plan();
    EXPECT_TRUE(later.uploads.empty());
    EXPECT_EQ(notSynced(later), QStringList{"b/x.txt"});
    // A state in which two paths hold one document is repaired without
    // deleting anything: the file named like the document keeps it.
    const FolderPlan repaired = Scenario()
                                    .file("x.txt", "h1").file("b/x.txt", "h2")
                                    .tracked("x.txt", 1, "h1", "h1").tracked("b/x.txt", 1, "h1", "h1")
                                    .document(1, "x.txt", "h1").plan();
    EXPECT_EQ(repaired.forgotten, QStringList{at("b/x.txt")});
    EXPECT_TRUE(repaired.serverDeletions.empty() && repaired.localRemovals.empty() && repaired.uploads.empty());
}

TEST(FolderPlanTest, DeletionsNeverTakeNewerWork)
{
    // Removed here while still the agreed version: deleted on the server.
    const FolderPlan removed = Scenario().tracked("a.txt", 1, "h1", "r1").gone("a.txt").document(1, "a.txt", "r1").plan();
    ASSERT_EQ(removed.serverDeletions.size(), 1u);
    // Removed here after the server got a newer version: it comes back.
    const FolderPlan edited = Scenario().tracked("a.txt", 1, "h1", "r1").gone("a.txt").document(1, "a.txt", "r2").plan();
    EXPECT_TRUE(edited.serverDeletions.empty());
    EXPECT_EQ(downloads(edited), QStringList{"1->a.txt:new"});
    // Deleted on the server, unchanged here: to the Trash; changed here: up as new.
    EXPECT_EQ(Scenario().file("a.txt", "h1").tracked("a.txt", 1, "h1", "r1").plan().localRemovals.size(), 1u);
    const FolderPlan kept = Scenario().file("a.txt", "h2").tracked("a.txt", 1, "h1", "r1").plan();
    EXPECT_TRUE(kept.localRemovals.empty());
    EXPECT_EQ(uploads(kept), QStringList{"a.txt"});
    // A path that now crosses a link (or a file) is listed as not synced and
    // kept, so its document comes down nowhere else; one still present (not
    // a regular file) or below an unreadable directory is left alone.
    const FolderPlan linked = Scenario().tracked("Sub/a.txt", 1, "h1", "r1").gone("Sub/a.txt", Absence::crossesLink)
                                  .document(1, "a.txt", "r1").plan();
    EXPECT_TRUE(linked.forgotten.isEmpty());
    EXPECT_EQ(notSynced(linked), QStringList{"Sub/a.txt"});
    EXPECT_TRUE(linked.serverDeletions.empty());
    EXPECT_TRUE(linked.downloads.empty());
    EXPECT_TRUE(Scenario().tracked("a.txt", 1, "h1", "r1").gone("a.txt", Absence::present).document(1, "a.txt", "r1")
                    .plan().serverDeletions.empty());
}

TEST(FolderPlanTest, AMoveOnAnotherComputerKeepsTheContent)
{
    // Document 1 deleted and document 2 of the same name new, in one answer.
    const FolderPlan sameContent = Scenario().file("x.txt", "h1").tracked("x.txt", 1, "h1", "h1").document(2, "x.txt", "h1").plan();
    EXPECT_TRUE(sameContent.localRemovals.empty() && sameContent.downloads.empty());
    ASSERT_EQ(sameContent.adoptions.size(), 1u);
    EXPECT_EQ(sameContent.adoptions.front().documentId, 2);
    const FolderPlan otherContent = Scenario().file("x.txt", "h1").tracked("x.txt", 1, "h1", "h1").document(2, "x.txt", "h9").plan();
    EXPECT_TRUE(otherContent.localRemovals.empty());
    EXPECT_EQ(downloads(otherContent), QStringList{"2->x.txt:trash"});
}

TEST(FolderPlanTest, MassRemovalAsksBeforeDeletingOnTheServer)
{
    Scenario scenario;
    for (int i = 0; i < 12; ++i) {
        const QString name = QStringLiteral("f%1.txt").arg(i);
        scenario.tracked(name, i + 1, "h", "r").document(i + 1, name, "r");
        if (i < 10)
            scenario.gone(name);
        else
            scenario.file(name, "h");
    }
    const FolderPlan asked = scenario.plan();
    EXPECT_EQ(asked.removalQuestion, 10);
    EXPECT_TRUE(asked.serverDeletions.empty() && asked.forgotten.isEmpty());

    scenario.facts.removalAnswer = RemovalAnswer::remove;
    EXPECT_EQ(scenario.plan().serverDeletions.size(), 10u);
    scenario.facts.removalAnswer = RemovalAnswer::restore;
    const FolderPlan restored = scenario.plan();
    EXPECT_TRUE(restored.serverDeletions.empty());
    EXPECT_EQ(restored.downloads.size(), 10u);
}

TEST(FolderPlanTest, FilesModifiedWithinTheResolutionOfTheirRecordingAreReadAgain)
{
    constexpr qint64 second = 1000000000;
    // Recorded `recordedAfter` ns after a modification time of `modified` ns.
    const auto hashed = [&](qint64 modified, qint64 recordedAfter) {
        Scenario scenario;
        scenario.file("a.txt", "h1").tracked("a.txt", 1, "h1", "r1", /*sameFacts=*/true).document(1, "a.txt", "r1");
        FileFacts &facts = scenario.facts.listing.files.front().facts;
        facts.modifiedNs = modified;
        TrackedFile &entry = scenario.facts.tracked[at("a.txt")];
        entry.modifiedNs = modified;
        entry.recordedNs = modified + recordedAfter;
        return !pathsToHash(scenario.facts).isEmpty();
    };
    const qint64 fine = 1000 * second + 123456789;
    EXPECT_TRUE(hashed(fine, 0)) << "recorded in the tick of the last write";
    EXPECT_TRUE(hashed(fine, -5)) << "a file clock behind the precise one";
    EXPECT_FALSE(hashed(fine, 1000)) << "recorded after the last write";
    EXPECT_FALSE(hashed(fine, -10 * second)) << "a time set ahead is no write of that moment";
    // Whole seconds: a coarse file system, which cannot tell writes within
    // a second (two on FAT) apart.
    const qint64 whole = 1000 * second;
    EXPECT_TRUE(hashed(whole, second / 2));
    EXPECT_TRUE(hashed(whole, second + second / 2));
    EXPECT_FALSE(hashed(whole, 3 * second));
    EXPECT_FALSE(hashed(whole, -3 * second));

    // Read again and unchanged: its facts are recorded anew, with the time of
    // this look.
    Scenario racy;
    racy.file("a.txt", "h1").tracked("a.txt", 1, "h1", "r1", /*sameFacts=*/true).document(1, "a.txt", "r1");
    racy.facts.listing.files.front().facts.takenNs = 1000 * second + 5 * second;
    racy.facts.tracked[at("a.txt")].recordedNs = 1000 * second;
    const FolderPlan plan = racy.plan();
    EXPECT_TRUE(plan.uploads.empty());
    ASSERT_EQ(plan.refreshes.size(), 1u);
    EXPECT_EQ(plan.refreshes.front().facts.takenNs, 1000 * second + 5 * second);
}

TEST(FolderPlanTest, WhatTheScanLeftOutIsListedAsNotSynced)
{
    Scenario scenario;
    scenario.facts.listing.notSynced.push_back({at("bad\uFFFD.txt"), "The name is not valid UTF-8"});
    scenario.facts.listing.notSynced.push_back({at("usb"), "Not mounted"});
    scenario.facts.listing.unreadableDirectories.append(at("usb"));
    scenario.tracked("usb/a.txt", 1, "h1", "r1").gone("usb/a.txt").document(1, "a.txt", "r1");
    const FolderPlan plan = scenario.plan();
    EXPECT_EQ(notSynced(plan), (QStringList{QString::fromUtf8("bad\uFFFD.txt"), "usb"}));
    EXPECT_TRUE(plan.serverDeletions.empty());
    EXPECT_TRUE(plan.downloads.empty());
    EXPECT_TRUE(plan.forgotten.isEmpty());
}
