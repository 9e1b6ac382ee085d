// The transfer phase as the server sees it: bounded concurrency, uploads
// before downloads, failures that are logged and retried by a later pass.
#include "EngineFixture.h"

using testsupport::fault;
using testsupport::readFile;
using testsupport::waitUntil;
using testsupport::writeFile;

class TransferTest : public EngineFixture {};

TEST_F(TransferTest, AtMostThreeTransfersOfAQueueAreInFlightAndDownloadsWaitForUploads)
{
    const QString docs = watch("Docs");
    syncOk();
    for (int i = 0; i < 7; ++i)
        writeFile(docs + QString("/up%1.txt").arg(i), "up");
    for (int i = 0; i < 5; ++i)
        putDocument(docs, "down" + std::to_string(i) + ".txt", "down " + std::to_string(i));
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 150}));
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/documents/*", .delayMs = 150}));
    running.server.clearRequests();
    syncOk();

    EXPECT_EQ(running.server.peakInFlight("POST", "/api/v1/documents"), 3);
    EXPECT_EQ(running.server.peakInFlight("GET", "/api/v1/documents/*"), 3);
    EXPECT_EQ(documentsOf(docs).size(), 12u);
    EXPECT_EQ(readFile(docs + "/down4.txt"), "down 4");
    EXPECT_LT(requestIndex("POST", "/api/v1/documents", true), requestIndex("GET", "/api/v1/documents/", false));
}

// Failed transfers are logged and listed as not synced with the reason
// until a pass gets them through; the pass itself ends well.
TEST_F(TransferTest, FailedTransfersAreListedThePassEndsWellAndTheNextPassRetries)
{
    const QString docs = watch("Docs");
    syncOk();
    writeFiles(docs, {"a.txt", "b.txt"}, "ab");
    putDocument(docs, "remote.txt", "from the server");
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents",
                                      .error = "Storage unavailable", .count = 2}));
    running.server.injectFault(fault({.method = "GET", .path = "/api/v1/documents/*",
                                      .error = "Storage unavailable", .count = 1}));
    syncOk();

    EXPECT_TRUE(log.has("critical: Upload failed for a.txt: Storage unavailable"));
    EXPECT_TRUE(log.has("critical: Upload failed for b.txt: Storage unavailable"));
    EXPECT_TRUE(log.has("critical: Download failed for remote.txt: Storage unavailable"));
    EXPECT_TRUE(log.has("info: Sync completed"));
    EXPECT_TRUE(engine->syncState().trackedFiles.isEmpty());
    EXPECT_TRUE(appState->recentFiles().isEmpty());
    EXPECT_EQ(notSyncedReason(docs + "/remote.txt"), "Download failed: Storage unavailable");
    EXPECT_TRUE(notSyncedReason(docs + "/a.txt").startsWith("Upload failed")) << notSyncedReason(docs + "/a.txt").toStdString();

    // The server does not list the document as changed again; it still comes down.
    syncOk();
    EXPECT_EQ(readFile(docs + "/remote.txt"), "from the server");
    EXPECT_EQ(serverContent(docs, "a.txt"), "ab");
    EXPECT_EQ(engine->syncState().trackedFiles.size(), 3);
    EXPECT_TRUE(appState->notSyncedFiles().isEmpty());
}

TEST_F(TransferTest, FilesThatChangeWhileTheyGoUpAreNotTakenAsAgreed)
{
    const QString docs = watch("Docs");
    writeFile(docs + "/brief.txt", "short-lived");
    writeFile(docs + "/live.txt", "first");
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 400}));
    auto pass = engine->performSync();
    ASSERT_TRUE(waitUntil([&] { return running.server.peakInFlight("POST", "/api/v1/documents") == 2; },
                          "both uploads in flight"));
    QFile::remove(docs + "/brief.txt");
    writeFile(docs + "/live.txt", "second");
    ASSERT_TRUE(waitUntil([&] { return !engine->isSyncing(); }, "the pass to end"));

    // What went up is what was recorded: the newer save goes up next, and
    // the file removed meanwhile takes its document with it.
    running.server.clearFaults();
    syncOk();
    EXPECT_EQ(serverContent(docs, "live.txt"), "second");
    EXPECT_EQ(serverContent(docs, "brief.txt"), "<absent>");
    EXPECT_FALSE(QFileInfo::exists(docs + "/brief.txt"));
    EXPECT_EQ(transfersOfPass(), 0);
}

// A large file counts its bytes as they move, up and down: the status
// shows it part-way, named, and ends at the whole. (Far larger than the
// loopback socket's buffers, which take a first part at once.) The totals
// are the whole pass's, over every folder, from its first transfer.
TEST_F(TransferTest, BytesCountAsTheyMoveBothWays)
{
    const QString docs = watch("Docs");
    const QString other = watch("Other");
    syncOk();
    const QByteArray big(16 * 1024 * 1024, 'x');
    writeFile(docs + "/big.bin", big);
    writeFile(other + "/small.txt", "small");
    running.server.setThrottle(8 * 1024 * 1024);
    QList<SyncProgress> seen;
    QObject::connect(appState.get(), &AppState::syncProgressChanged, [&] { seen.append(appState->syncProgress()); });
    const auto partWay = [&](const QString &action, qint64 bytesTotal, int filesTotal) {
        return std::any_of(seen.cbegin(), seen.cend(), [&](const SyncProgress &progress) {
            return progress.currentFile == "big.bin" && progress.currentAction == action && progress.bytesDone > 0
                   && progress.bytesDone < progress.bytesTotal && progress.bytesTotal == bytesTotal
                   && progress.filesTotal == filesTotal;
        });
    };
    const auto report = [&] {
        QStringList lines;
        for (const SyncProgress &progress : seen)
            lines << QString("%1 %2 %3/%4").arg(progress.currentAction, progress.currentFile).arg(progress.bytesDone).arg(progress.bytesTotal);
        return lines.join("\n").toStdString();
    };
    syncOk();
    EXPECT_TRUE(partWay("uploading", big.size() + 5, 2)) << report();
    EXPECT_EQ(documentsOf(docs).at("big.bin").fileSize, big.size());

    putDocument(other, "big.bin", big.toStdString());
    seen.clear();
    syncOk();
    EXPECT_TRUE(partWay("downloading", big.size(), 1)) << report();
    EXPECT_EQ(readFile(other + "/big.bin"), big);
    running.server.setThrottle(0);
}
