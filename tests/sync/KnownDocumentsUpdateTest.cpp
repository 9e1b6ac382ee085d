// A status answer folded into the known documents as it is decoded: the
// same outcome as taking the answer whole, whatever order its lists and
// the earlier looks come in.
#include "sync/KnownDocumentsUpdate.h"

#include <gtest/gtest.h>

namespace {

SyncDocument listed(qint64 id, const char *name, const char *hash)
{
    SyncDocument document;
    document.id = id;
    document.name = QString::fromUtf8(name);
    document.fileHash = ContentHash(QString(64, QLatin1Char(hash[0])));
    document.fileSize = 3;
    document.updatedAt = QStringLiteral("2026-12-09T10:00:00Z");
    return document;
}

KnownDocument known(const SyncDocument &document)
{
    SharedTexts times;
    return knownFrom(document, times);
}

} // namespace

TEST(KnownDocumentsUpdateTest, TheAnswerWinsOverEarlierLooksAndAListedDocumentIsNeverDropped)
{
    KnownDocuments before;
    before.insert(1, known(listed(1, "kept.txt", "a")));
    before.insert(2, known(listed(2, "edited.txt", "b")));
    before.insert(3, known(listed(3, "gone.txt", "c")));
    before.insert(4, known(listed(4, "heard-gone.txt", "d")));

    KnownDocumentsUpdate update(before);
    update.take(listed(2, "edited.txt", "e"));     // a newer version
    update.take(listed(5, "both.txt", "f"));       // listed and counted as deleted
    update.take(listed(6, "back.txt", "a"));       // an earlier look said deleted
    HeardDocuments earlier;
    earlier.insert(2, known(listed(2, "edited.txt", "9"))); // older than the answer
    earlier.insert(4, std::nullopt);
    earlier.insert(6, std::nullopt);
    earlier.insert(7, known(listed(7, "heard.txt", "7")));
    update.takeEarlier(earlier);
    update.finish({3, 5});

    const KnownDocuments &after = update.documents();
    EXPECT_TRUE(update.changed());
    EXPECT_TRUE(update.listedAny());
    EXPECT_EQ(after.value(1).name, "kept.txt");
    EXPECT_EQ(after.value(2).fileHash, listed(2, "", "e").fileHash);
    EXPECT_FALSE(after.contains(3));
    EXPECT_FALSE(after.contains(4));
    EXPECT_EQ(after.value(5).name, "both.txt");
    EXPECT_EQ(after.value(6).name, "back.txt");
    EXPECT_EQ(after.value(7).name, "heard.txt");
    EXPECT_EQ(after.size(), 5);
    // The copy it started from is untouched.
    EXPECT_EQ(before.size(), 4);
    EXPECT_EQ(before.value(2).fileHash, listed(2, "", "b").fileHash);
}

TEST(KnownDocumentsUpdateTest, AnAnswerThatSaysWhatIsKnownChangesNothing)
{
    KnownDocuments before;
    before.insert(1, known(listed(1, "a.txt", "a")));
    KnownDocumentsUpdate update(before);
    update.take(listed(1, "a.txt", "a"));
    update.finish({8}); // deleted, and never known here
    EXPECT_FALSE(update.changed());
    EXPECT_TRUE(update.listedAny());

    KnownDocumentsUpdate empty(before);
    empty.finish({});
    EXPECT_FALSE(empty.changed());
    EXPECT_FALSE(empty.listedAny());
}
