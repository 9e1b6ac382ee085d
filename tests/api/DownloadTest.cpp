// The two-step download: a link from the API, then the file itself into
// place, with the destination untouched whenever anything goes wrong.
#include "ApiFixture.h"

#include "platform/FolderAccess.h"
#include "support/TmpfsMount.h"

using testsupport::readFile;
using testsupport::run;
using testsupport::writeFile;

namespace {

// The names in `dir` other than `keep`: leftovers of a download.
QStringList strayFiles(const QString &dir, const QStringList &keep)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString &name : keep)
        names.removeAll(name);
    return names;
}

} // namespace

TEST_F(ApiFixture, DownloadReplacesTheFileAndSendsNoClientHeaders)
{
    const std::string content(300000, 'z');
    const qint64 id = running.server.putDocument(testsupport::RunningServer::email, folderId, "big.bin", content);
    const QString target = files.filePath("big.bin");
    writeFile(target, "old content");
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    running.server.clearRequests();
    const QUrl link = run(client->getDownloadURL(id));
    run(client->downloadFile(link, target));
    EXPECT_EQ(readFile(target).toStdString(), content);
    EXPECT_EQ(QFile::permissions(target), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                                              | QFileDevice::WriteUser)
        << "the replaced file keeps its permissions";
    EXPECT_TRUE(strayFiles(files.path(), {"big.bin"}).isEmpty());

    const auto all = running.server.requests();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].target, "/api/v1/documents/" + std::to_string(id) + "/download");
    EXPECT_TRUE(header(all[0], "authorization").has_value());
    EXPECT_EQ(header(all[1], "authorization"), std::nullopt) << "the link grants access by itself";
    EXPECT_NE(header(all[1], "accept"), "application/json");

    // A new file gets ordinary permissions, not the temporary file's owner-only ones.
    const QString fresh = files.filePath("fresh.bin");
    run(client->downloadFile(run(client->getDownloadURL(id)), fresh));
    EXPECT_TRUE(QFile::permissions(fresh) & QFileDevice::ReadOther);
}

TEST_F(ApiFixture, FailedDownloadsLeaveTheDestinationAlone)
{
    const qint64 id =
        running.server.putDocument(testsupport::RunningServer::email, folderId, "doc.txt", std::string(200000, 'n'));
    const QString target = files.filePath("doc.txt");
    writeFile(target, "keep me");
    const QUrl link = run(client->getDownloadURL(id));
    auto expectUntouched = [&](const char *what) {
        EXPECT_EQ(readFile(target), "keep me") << what;
        EXPECT_TRUE(strayFiles(files.path(), {"doc.txt"}).isEmpty()) << what;
    };

    running.server.injectFault(fault({.path = "/files/*", .status = 404, .error = "gone", .count = 1}));
    EXPECT_EQ(failureOf<APIError>(client->downloadFile(link, target)), "Download failed with status 404");
    expectUntouched("404");
    running.server.injectFault(fault({.path = "/files/*", .status = 401, .count = 1}));
    EXPECT_EQ(failureOf<APIError>(client->downloadFile(link, target)), "Download failed with status 401");
    expectUntouched("401");
    running.server.clearFaults();

    // Cut mid-body, after answers that left reusable connections. Qt may
    // take half a body for the whole one, or resend a request by itself
    // (which can also pass a canned answer by): a download either fails and
    // leaves the file alone, or brings exactly the whole file.
    auto failsOrIsWhole = [&](const char *what) {
        try {
            run(client->downloadFile(link, target));
            EXPECT_EQ(readFile(target), QByteArray(200000, 'n')) << what;
            writeFile(target, "keep me");
        } catch (const Error &) {
            expectUntouched(what);
        }
    };
    for (int i = 0; i < 20; ++i) {
        running.server.injectFault(fault({.path = "/files/*", .status = 404, .body = "{}", .count = 1}));
        failsOrIsWhole("404");
        running.server.injectFault(fault({.path = "/files/*", .dropMidBody = true, .count = 1}));
        failsOrIsWhole("cut mid-body");
    }
    running.server.clearFaults();

    // An expired or unknown link is the server's 404.
    QUrl unknown = link;
    unknown.setPath("/files/not-a-token");
    failureOf<APIError>(client->downloadFile(unknown, target));
    expectUntouched("unknown link");

    // A folder in the way, and a destination folder that does not exist.
    const QString folderInWay = files.filePath("in-the-way");
    QDir().mkdir(folderInWay);
    writeFile(folderInWay + "/inside.txt", "still here");
    failureOf<FileError>(client->downloadFile(link, folderInWay));
    EXPECT_EQ(readFile(folderInWay + "/inside.txt"), "still here");
    failureOf<FileError>(client->downloadFile(link, files.filePath("no/such/dir/doc.txt")));
    expectUntouched("folder in the way");

    // Only http and https links are fetched; a local file is never copied in.
    failureOf<NetworkError>(client->downloadFile(QUrl::fromLocalFile(target), files.filePath("copy.txt")));
    EXPECT_FALSE(QFile::exists(files.filePath("copy.txt")));
}

TEST_F(ApiFixture, DownloadIntoAnOpenFileThatAFullDiskCannotHold)
{
    const std::string content(256 * 1024, 'd');
    const qint64 id = running.server.putDocument(testsupport::RunningServer::email, folderId, "doc.txt", content);
    const QUrl link = run(client->getDownloadURL(id));

    const FolderAccess folder(files.path());
    IncomingFile whole = folder.createIncoming("doc.txt");
    run(client->downloadFile(link, &whole.device()));
    ASSERT_TRUE(whole.placeNew());
    EXPECT_EQ(readFile(files.filePath("doc.txt")).toStdString(), content);

    testsupport::TmpfsMount disk(64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a small file system is not permitted here";
    writeFile(disk.filePath("doc.txt"), "keep me");
    {
        IncomingFile cut = FolderAccess(disk.path()).createIncoming("doc.txt");
        const QString error = failureOf<FileError>(client->downloadFile(link, &cut.device()));
        EXPECT_TRUE(error.contains("No space left on device")) << error.toStdString();
    }
    EXPECT_EQ(readFile(disk.filePath("doc.txt")), "keep me");
    EXPECT_EQ(strayFiles(disk.path(), {"doc.txt"}), QStringList());

    failureOf<FileError>(client->downloadFile(link, disk.filePath("doc.txt")));
    EXPECT_EQ(readFile(disk.filePath("doc.txt")), "keep me");
    EXPECT_EQ(strayFiles(disk.path(), {"doc.txt"}), QStringList());
}

TEST_F(ApiFixture, DownloadLinkMustBeAWebAddress)
{
    const std::string path = "/api/v1/documents/5/download";
    for (const char *bad : {"", "not a url", "file:///etc/passwd", "/files/relative", "http://"}) {
        SCOPED_TRACE(bad);
        const std::string body = nlohmann::json{{"download_url", bad}}.dump();
        running.server.injectFault(fault({.path = path, .status = 200, .body = body, .count = 1}));
        EXPECT_EQ(failureOf<APIError>(client->getDownloadURL(5)), "Invalid server response");
    }
    running.server.injectFault(fault({.path = path, .status = 404, .error = "Document not found", .count = 1}));
    EXPECT_EQ(failureOf<APIError>(client->getDownloadURL(5)), "Not found");
    running.server.injectFault(fault({.path = path, .status = 200, .body = R"({"url":"http://x"})", .count = 1}));
    failureOf<DecodingError>(client->getDownloadURL(5));
}
