// A request is abandoned when nothing moves for the stall time-out, however
// long it has run: a server that stops answering fails it, a slow link that
// keeps moving does not.
#include "ApiFixture.h"

#include <QNetworkReply>

using testsupport::run;
using testsupport::writeFile;

namespace {

constexpr int stallMs = 1000;

} // namespace

TEST_F(ApiFixture, AStalledRequestIsAbandoned)
{
    client->setStallTimeoutMs(stallMs);
    // The server holds its answer back.
    running.server.injectFault(fault({.path = "/api/v1/folders", .delayMs = 20 * stallMs, .count = 1}));
    try {
        run(client->listFolders());
        ADD_FAILURE() << "a silent server was waited for to the end";
    } catch (const NetworkError &error) {
        EXPECT_EQ(error.code(), QNetworkReply::TimeoutError);
        EXPECT_TRUE(error.description().contains("timed out")) << error.description().toStdString();
    }

    // An upload whose body went out whole but is never answered.
    running.server.injectFault(fault({.path = "/api/v1/documents", .delayMs = 20 * stallMs, .count = 1}));
    const QString path = files.filePath("a.bin");
    writeFile(path, QByteArray(200 * 1024, 'a'));
    failureOf<NetworkError>(uploadFile(path, "a.bin", folderId));

    // The client goes on working on fresh requests.
    EXPECT_NO_THROW(run(client->listFolders()));
}

TEST_F(ApiFixture, ASlowSteadyTransferIsNotAbandoned)
{
    client->setStallTimeoutMs(stallMs);
    // Each body takes a few stall time-outs in all, but bytes keep moving.
    // Most of the upload sits in socket buffers for a while: only the
    // shrinking send queue shows that it still moves.
    constexpr int size = 768 * 1024;
    running.server.setThrottle(256 * 1024);

    const QString path = files.filePath("slow.bin");
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 7 + i / 1000);
    writeFile(path, content);
    const UploadReceipt uploaded = run(uploadFile(path, "slow.bin", folderId));
    EXPECT_EQ(uploaded.document.fileSize, size);

    running.server.setThrottle(384 * 1024);
    const QString target = files.filePath("back.bin");
    const QUrl link = run(client->getDownloadURL(uploaded.document.id));
    run(client->downloadFile(link, target));
    EXPECT_EQ(testsupport::readFile(target), content);
}
