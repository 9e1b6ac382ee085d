#include "sync/StateCompaction.h"
#include "sync/SyncState.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

QDateTime referencePlus(double seconds)
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(qint64(seconds * 1000));
}

SyncState sampleState()
{
    SyncState state;
    state.serverFolderId = 7;
    state.lastSyncTime = QStringLiteral("2026-01-02T03:04:05Z");
    state.folderMappings.insert(QStringLiteral("/home/u/Docs"), 12);
    TrackedFile file;
    file.localHash = QStringLiteral("ab");
    file.remoteId = 3;
    file.remoteHash = QStringLiteral("cd");
    file.lastSynced = QStringLiteral("2026-01-02T03:04:05Z");
    file.localModified = referencePlus(1.5);
    state.trackedFiles.insert(QStringLiteral("/home/u/Docs/a.txt"), file);
    return state;
}

// A valid file with one tracked entry whose members are given as raw JSON.
QByteArray fileWithEntry(const QByteArray &entryMembers)
{
    return R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{"/d/a.txt":{)" + entryMembers + "}}}";
}

const QByteArray completeEntry =
    R"("localHash":"ab","remoteId":3,"lastSynced":"2026-01-02T03:04:05Z","localModified":10)";

} // namespace

TEST(StateFileFormat, WritesTheKnownLayoutByteForByte)
{
    const QByteArray expected = R"({
  "folderMappings" : {
    "\/home\/u\/Docs" : 12
  },
  "folderSyncTimes" : {},
  "lastSyncTime" : "2026-01-02T03:04:05Z",
  "serverFolderId" : 7,
  "trackedFiles" : {
    "\/home\/u\/Docs\/a.txt" : {
      "lastSynced" : "2026-01-02T03:04:05Z",
      "localHash" : "ab",
      "localModified" : 1.5,
      "remoteHash" : "cd",
      "remoteId" : 3
    }
  },
  "watchedFolders" : []
})";
    EXPECT_EQ(sampleState().encode(), expected);

    // Optional members are left out, never written as null; time zero is
    // the reference date itself.
    SyncState bare;
    TrackedFile file;
    file.localHash = QStringLiteral("h");
    file.lastSynced = QStringLiteral("t");
    file.localModified = referencePlus(0);
    bare.trackedFiles.insert(QStringLiteral("p"), file);
    EXPECT_EQ(bare.encode(), QByteArray(R"({
  "folderMappings" : {},
  "trackedFiles" : {
    "p" : {
      "lastSynced" : "t",
      "localHash" : "h",
      "localModified" : 0,
      "remoteId" : 0
    }
  },
  "watchedFolders" : []
})"));
}

TEST(StateFileFormat, RoundTripsEveryMember)
{
    SyncState state = sampleState();
    state.watchedFolders = QStringList{QStringLiteral("/kept/as/loaded")};
    state.folderSyncTimes.insert(QStringLiteral("/home/u/Docs"), QStringLiteral("2026-01-02T03:04:00Z"));
    state.folderChoices.insert(QStringLiteral("/home/u/Docs"), QStringLiteral("5b7e-mark"));
    state.account = SyncAccount{QStringLiteral("https://docs.example.com"), QStringLiteral("me@example.com")};
    // Paths with characters that need escaping or are outside the BMP.
    TrackedFile odd = state.trackedFiles.first();
    odd.remoteHash.reset();
    odd.localModified = referencePlus(-12345.678);
    state.trackedFiles.insert(QStringLiteral("/home/u/Docs/\"quoted\" \\ tab\t caf\u00e9 \U0001F600.txt"), odd);
    state.trackedFiles.insert(QStringLiteral("/home/u/Docs/later.txt"),
                              TrackedFile{"ff", 9007199254740993LL, std::nullopt, "x",
                                          QDateTime::fromMSecsSinceEpoch(1767225600123LL, Qt::UTC)});

    TrackedFile withFacts = state.trackedFiles.first();
    withFacts.size = 10, withFacts.inode = 7, withFacts.modifiedNs = 1767225600123456789LL;
    withFacts.changedNs = withFacts.modifiedNs, withFacts.recordedNs = 1767225600200000000LL;
    // A hash as the client writes it is held as its bytes; one written in
    // capitals is other text, kept and compared as it came.
    const QString hex = QStringLiteral("0123456789abcdef").repeated(4);
    withFacts.localHash = hex;
    withFacts.remoteHash = hex.toUpper();
    EXPECT_NE(withFacts.localHash, *withFacts.remoteHash);
    state.trackedFiles.insert(QStringLiteral("/home/u/Docs/facts.txt"), withFacts);
    state.mountPoints.insert(QStringLiteral("/home/u/Docs"), QStringList{"usb", "Sub/card"});

    const QByteArray encoded = state.encode();
    EXPECT_TRUE(encoded.contains(hex.toUtf8()) && encoded.contains(hex.toUpper().toUtf8()));
    const auto decoded = SyncState::decode(encoded);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, state);
    EXPECT_EQ(decoded->encode(), encoded);
    std::istringstream stream(encoded.toStdString());
    const auto streamed = SyncState::decode(stream);
    ASSERT_TRUE(streamed);
    EXPECT_EQ(*streamed, state);
    EXPECT_EQ(decoded->trackedFiles.value("/home/u/Docs/later.txt").remoteId, 9007199254740993LL);
}

// A file system's time far beyond what the file keeps (the year 100,000)
// is held at the bound rather than wrapped.
TEST(StateFileFormat, TimesFarOutAreHeldAtTheBound)
{
    SyncState state = sampleState();
    TrackedFile file = state.trackedFiles.first();
    file.localModified = QDateTime(QDate(100000, 1, 1), QTime(0, 0), Qt::UTC);
    state.trackedFiles.insert(QStringLiteral("/d/beyond"), file);
    file.localModified = QDateTime(QDate(-100000, 1, 1), QTime(0, 0), Qt::UTC);
    state.trackedFiles.insert(QStringLiteral("/d/before"), file);

    const auto decoded = SyncState::decode(state.encode());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->trackedFiles.value("/d/beyond").localModified, referencePlus(1.0e12));
    EXPECT_EQ(decoded->trackedFiles.value("/d/before").localModified, referencePlus(-1.0e12));
}

TEST(StateFileFormat, ReadsAnyMemberOrderExtraKeysAndAbsentOrNullOptionals)
{
    const QByteArray reordered = R"({
      "trackedFiles": {"\/d\/a.txt": {"localModified": 1.5, "remoteId": 3, "lastSynced": "2026-01-02T03:04:05Z",
                                      "remoteHash": "cd", "localHash": "ab", "futureKey": [1, 2]}},
      "serverFolderId": 7, "unknown": {"x": null}, "watchedFolders": [],
      "folderMappings": {"/d": 12}, "lastSyncTime": "2026-01-02T03:04:05Z"})";
    const auto state = SyncState::decode(reordered);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->serverFolderId, 7);
    EXPECT_EQ(state->lastSyncTime, QStringLiteral("2026-01-02T03:04:05Z"));
    EXPECT_EQ(state->folderMappings.value("/d"), 12);
    ASSERT_TRUE(state->trackedFiles.contains("/d/a.txt"));
    const TrackedFile &file = state->trackedFiles.value("/d/a.txt");
    EXPECT_EQ(file.localHash, "ab");
    EXPECT_EQ(file.remoteHash, QStringLiteral("cd"));
    EXPECT_EQ(file.localModified, referencePlus(1.5));

    // The smallest file, and optionals absent or null.
    const auto minimal = SyncState::decode(R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{}})");
    ASSERT_TRUE(minimal);
    EXPECT_EQ(*minimal, SyncState{});

    const auto nulls = SyncState::decode(
        R"({"serverFolderId":null,"lastSyncTime":null,"watchedFolders":[],"folderMappings":{},"trackedFiles":{}})");
    ASSERT_TRUE(nulls);
    EXPECT_FALSE(nulls->serverFolderId);
    EXPECT_FALSE(nulls->lastSyncTime);

    // Whole numbers written with a fraction still read as ids; integer
    // seconds read as dates.
    const auto entry = SyncState::decode(fileWithEntry(
        R"("localHash":"ab","remoteId":3.0,"remoteHash":null,"lastSynced":"t","localModified":10)"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->trackedFiles.value("/d/a.txt").remoteId, 3);
    EXPECT_FALSE(entry->trackedFiles.value("/d/a.txt").remoteHash);
    EXPECT_EQ(entry->trackedFiles.value("/d/a.txt").localModified, referencePlus(10));
}

TEST(StateFileFormat, RejectsTheWholeFileByTheRules)
{
    ASSERT_TRUE(SyncState::decode(fileWithEntry(completeEntry)));

    const QList<QByteArray> rejected = {
        "",
        "not json",
        "[]",
        R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{}} trailing)",
        // A required member missing, null or of a wrong type.
        R"({"folderMappings":{},"trackedFiles":{}})",
        R"({"watchedFolders":[],"trackedFiles":{}})",
        R"({"watchedFolders":[],"folderMappings":{}})",
        R"({"watchedFolders":null,"folderMappings":{},"trackedFiles":{}})",
        R"({"watchedFolders":[1],"folderMappings":{},"trackedFiles":{}})",
        R"({"watchedFolders":[],"folderMappings":[],"trackedFiles":{}})",
        R"({"watchedFolders":[],"folderMappings":{"/d":"12"},"trackedFiles":{}})",
        R"({"watchedFolders":[],"folderMappings":{"/d":1.5},"trackedFiles":{}})",
        R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":[]})",
        R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{"/d/a":"x"}})",
        // Optional members present with a wrong type.
        R"({"serverFolderId":"7","watchedFolders":[],"folderMappings":{},"trackedFiles":{}})",
        R"({"lastSyncTime":5,"watchedFolders":[],"folderMappings":{},"trackedFiles":{}})",
        // Ids outside the signed 64-bit range must not wrap round.
        R"({"serverFolderId":18446744073709551615,"watchedFolders":[],"folderMappings":{},"trackedFiles":{}})",
        R"({"watchedFolders":[],"folderMappings":{"/d":9223372036854775808},"trackedFiles":{}})",
        R"({"watchedFolders":[],"folderMappings":{"/d":1e300},"trackedFiles":{}})",
        // One bad tracked entry.
        fileWithEntry(R"("remoteId":3,"lastSynced":"t","localModified":10)"),
        fileWithEntry(R"("localHash":"ab","lastSynced":"t","localModified":10)"),
        fileWithEntry(R"("localHash":"ab","remoteId":3,"localModified":10)"),
        fileWithEntry(R"("localHash":"ab","remoteId":3,"lastSynced":"t")"),
        fileWithEntry(R"("localHash":null,"remoteId":3,"lastSynced":"t","localModified":10)"),
        fileWithEntry(R"("localHash":5,"remoteId":3,"lastSynced":"t","localModified":10)"),
        fileWithEntry(R"("localHash":"ab","remoteId":"3","lastSynced":"t","localModified":10)"),
        fileWithEntry(R"("localHash":"ab","remoteId":3,"remoteHash":1,"lastSynced":"t","localModified":10)"),
        fileWithEntry(R"("localHash":"ab","remoteId":3,"lastSynced":"t","localModified":"10")"),
        // A time too far out to be held: no file system produces it.
        fileWithEntry(R"("localHash":"ab","remoteId":3,"lastSynced":"t","localModified":1e300)"),
        // Bytes that are not UTF-8 text.
        QByteArray("{\"watchedFolders\":[\"\xff\"],\"folderMappings\":{},\"trackedFiles\":{}}"),
        // Deeper than the format nests, and a number beyond a double.
        R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{},"x":)" + QByteArray(64, '[') + QByteArray(64, ']') + "}",
        R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{},"x":1e999})",
    };
    for (const QByteArray &text : rejected) {
        EXPECT_FALSE(SyncState::decode(text)) << text.toStdString();
        std::istringstream stream(text.toStdString());
        EXPECT_FALSE(SyncState::decode(stream)) << "read as a stream: " << text.toStdString();
    }
    // As deep as the format may nest, read either way.
    const QByteArray deepest = R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{},"x":)" + QByteArray(63, '[')
        + QByteArray(63, ']') + "}";
    EXPECT_TRUE(SyncState::decode(deepest));
    std::istringstream stream(deepest.toStdString());
    EXPECT_TRUE(SyncState::decode(stream));
}

TEST(StateFileFormat, SizesBelowZeroReadAsUnknown)
{
    const auto state = SyncState::decode(
        R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{"/d/a.txt":{)" + completeEntry
        + R"(,"size":-5,"inode":4}},"serverDocuments":{"12":{"3":{"name":"a.txt","fileSize":-1},"4":{"name":"b","fileSize":7}}}})");
    ASSERT_TRUE(state);
    const TrackedFile &file = state->trackedFiles.value(QStringLiteral("/d/a.txt"));
    EXPECT_EQ(file.size, std::nullopt);
    EXPECT_EQ(file.inode, 4) << "the other facts stay";
    EXPECT_EQ(state->serverDocuments.value(12).value(3).fileSize, std::nullopt);
    EXPECT_EQ(state->serverDocuments.value(12).value(4).fileSize, 7);
}

TEST(StateFileFormat, AFileFromBeforePerFolderTimesGivesEachMappedFolderTheCommonOne)
{
    const auto state = SyncState::decode(R"({"watchedFolders":[],"folderMappings":{"/a":1,"/b":2},"trackedFiles":{},
                                            "lastSyncTime":"2026-01-02T03:04:05Z"})");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->folderSyncTimes,
              (QMap<QString, QString>{{"/a", "2026-01-02T03:04:05Z"}, {"/b", "2026-01-02T03:04:05Z"}}));
    EXPECT_FALSE(state->account);

    // Once the member is there, a folder without its own time has none.
    const auto later = SyncState::decode(R"({"watchedFolders":[],"folderMappings":{"/a":1,"/b":2},"trackedFiles":{},
                                            "lastSyncTime":"2026-01-02T03:04:05Z","folderSyncTimes":{"/a":"t"}})");
    ASSERT_TRUE(later);
    EXPECT_EQ(later->folderSyncTimes, (QMap<QString, QString>{{"/a", "t"}}));
}

TEST(StateFileFormat, MalformedPerFolderTimesCostOnlyThemselves)
{
    const auto state = SyncState::decode(
        R"({"watchedFolders":[],"folderMappings":{"/d":1},"trackedFiles":{},"folderSyncTimes":{"/d":5}})");
    ASSERT_TRUE(state);
    EXPECT_EQ(state->folderMappings.value("/d"), 1);
    EXPECT_TRUE(state->folderSyncTimes.isEmpty());

    // Mount points likewise: a list that does not read is dropped alone.
    const auto mounts = SyncState::decode(
        R"({"watchedFolders":[],"folderMappings":{},"trackedFiles":{},"mountPoints":{"/d":"usb","/e":["usb",3]}})");
    ASSERT_TRUE(mounts);
    EXPECT_EQ(mounts->mountPoints, (QMap<QString, QStringList>{{"/e", {"usb"}}}));
}

TEST(StateFileFormat, EscapesTextAsJsonWithSlashesAndUtf8)
{
    // A lone surrogate (no UTF-8 form) as Qt's own conversion writes it.
    const QString lone = QString(QChar(0xd800));
    SyncState state;
    state.folderMappings.insert(QString::fromUtf8("a/b\"c\\d\x01\x1f\t\x7f \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 ") + lone,
                                1);
    const QByteArray expected = "{\n  \"folderMappings\" : {\n    \"a\\/b\\\"c\\\\d\\u0001\\u001f\\t\x7f \xc3\xa9 \xe2\x82\xac "
                                "\xf0\x9f\x98\x80 "
        + lone.toUtf8() + "\" : 1\n  },\n  \"trackedFiles\" : {},\n  \"watchedFolders\" : []\n}";
    EXPECT_EQ(state.encode(), expected);
}

TEST(StateCompaction, ACompactCopyHoldsTheSameEntriesInMemoryOfItsOwn)
{
    SyncState state = sampleState();
    state.serverDocuments[12].insert(3, KnownDocument{"a.txt", QString(64, 'a'), 5, "2026-01-02T03:04:05Z"});
    const TrackedFiles trackedFiles = compactedTrackedFiles(state.trackedFiles);
    const QMap<qint64, KnownDocuments> serverDocuments = compactedServerDocuments(state.serverDocuments);
    EXPECT_EQ(trackedFiles, state.trackedFiles);
    EXPECT_EQ(serverDocuments, state.serverDocuments);
    // Texts too are copies: the originals can all be freed.
    EXPECT_NE(trackedFiles.firstKey().constData(), state.trackedFiles.firstKey().constData());
    EXPECT_NE(serverDocuments[12][3].name.constData(), state.serverDocuments[12][3].name.constData());
}
