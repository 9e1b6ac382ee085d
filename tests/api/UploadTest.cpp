// The upload form as the server received it, byte for byte, and the
// upload's own classification of answers.
#include "ApiFixture.h"

#include <QRegularExpression>

using testsupport::run;
using testsupport::writeFile;

namespace {

std::string boundaryOf(const DevServer::RecordedRequest &request)
{
    const std::string type = request.headers.find("content-type")->second;
    const std::string prefix = "multipart/form-data; boundary=";
    EXPECT_EQ(type.rfind(prefix, 0), 0u) << type;
    return type.substr(prefix.size());
}

std::string expectedForm(const std::string &boundary, const std::string &fileName, const std::string &mime,
                         const std::string &content, const std::string &name, const std::string &folder)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" + fileName
        + "\"\r\nContent-Type: " + mime + "\r\n\r\n" + content + "\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\n" + name + "\r\n--" + boundary
        + "\r\nContent-Disposition: form-data; name=\"folder_id\"\r\n\r\n" + folder + "\r\n--" + boundary + "--\r\n";
}

} // namespace

TEST_F(ApiFixture, UploadSendsTheFormByteForByte)
{
    static const char bytes[] = "line one\r\n--not a boundary\0binary\xff";
    const std::string content(bytes, sizeof bytes - 1); // the NUL inside, not the one after
    const QString plain = files.filePath("report.txt");
    writeFile(plain, QByteArray::fromStdString(content));
    running.server.clearRequests();
    const UploadReceipt receipt = run(uploadFile(plain, "report.txt", folderId));
    const DocumentResponse &first = receipt.document;
    run(uploadFile(plain, "report.txt", folderId));

    const auto sent = requestsTo("/api/v1/documents");
    ASSERT_EQ(sent.size(), 2u);
    const std::string boundary = boundaryOf(sent[0]);
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(QString::fromStdString(boundary)).hasMatch()) << boundary;
    EXPECT_NE(boundaryOf(sent[1]), boundary) << "every upload draws a new boundary";
    EXPECT_EQ(sent[0].body, expectedForm(boundary, "report.txt", "text/plain", content, "report.txt",
                                         std::to_string(folderId)));
    EXPECT_EQ(header(sent[0], "content-length"), std::to_string(sent[0].body.size()));
    EXPECT_EQ(header(sent[0], "accept"), "application/json");
    EXPECT_EQ(header(sent[0], "authorization"), "Bearer " + client->token()->toStdString());
    EXPECT_EQ(running.server.content(first.id), content);
    EXPECT_EQ(first.fileSize, qint64(content.size()));
    // What the client hashed on the way is what the server stored.
    EXPECT_EQ(receipt.sentHash, first.fileHash);
    EXPECT_EQ(receipt.sentBytes, qint64(content.size()));

    // A name that would break out of the quoted filename, and non-ASCII text.
    const QString awkward = QString::fromUtf8("a\"b\r\nc é.PDF");
    const QString odd = files.filePath(awkward);
    writeFile(odd, "%PDF");
    running.server.clearRequests();
    const DocumentResponse second = run(uploadFile(odd, QString::fromUtf8("Ré\"sumé"), folderId)).document;
    const auto oddSent = requestsTo("/api/v1/documents");
    ASSERT_EQ(oddSent.size(), 1u);
    EXPECT_EQ(oddSent[0].body, expectedForm(boundaryOf(oddSent[0]), "a%22b%0D%0Ac \xc3\xa9.PDF", "application/pdf",
                                            "%PDF", "R\xc3\xa9\"sum\xc3\xa9", std::to_string(folderId)));
    EXPECT_EQ(second.name, QString::fromUtf8("Ré\"sumé"));

    // An empty file still makes a complete form.
    const QString empty = files.filePath("empty");
    writeFile(empty, "");
    running.server.clearRequests();
    const UploadReceipt emptyReceipt = run(uploadFile(empty, "empty", folderId));
    EXPECT_EQ(emptyReceipt.sentHash, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    const auto emptySent = requestsTo("/api/v1/documents");
    ASSERT_EQ(emptySent.size(), 1u);
    EXPECT_EQ(emptySent[0].body, expectedForm(boundaryOf(emptySent[0]), "empty", "application/octet-stream", "",
                                              "empty", std::to_string(folderId)));
}

TEST_F(ApiFixture, UploadFailuresAndUnreadableFiles)
{
    const QString path = files.filePath("a.txt");
    writeFile(path, "abc");
    auto upload = [&] { return uploadFile(path, "a.txt", folderId); };
    auto answer = [&](int status, const std::string &body) {
        running.server.injectFault(fault({.path = "/api/v1/documents", .status = status, .body = body, .count = 1}));
    };
    answer(404, R"({"error":"Folder not found"})");
    EXPECT_EQ(failureOf<APIError>(upload()), "Folder not found") << "uploads have no 404 rule";
    answer(404, "<html>");
    EXPECT_EQ(failureOf<APIError>(upload()), "Upload failed");
    answer(500, "");
    EXPECT_EQ(failureOf<APIError>(upload()), "Upload failed");
    answer(401, R"({"error":"x"})");
    EXPECT_EQ(failureOf<APIError>(upload()), "Invalid credentials");
    answer(201, R"({"id":1})");
    failureOf<DecodingError>(upload());

    // The real server rejects a folder that does not exist.
    EXPECT_FALSE(failureOf<APIError>(uploadFile(path, "a.txt", 987654)).isEmpty());

    running.server.clearRequests();
    // The client reads only what the caller opened: a file that is not open
    // sends nothing.
    failureOf<FileError>(
        client->uploadDocument(std::make_shared<QFile>(files.filePath("missing.txt")), "m", "m", folderId));
    EXPECT_TRUE(requestsTo("/api/v1/documents").empty()) << "nothing is sent for an unopened file";
}

TEST_F(ApiFixture, UploadsInterleaveAndAShrinkingFileFailsCleanly)
{
    // Three uploads at once, as the transfer phase runs them: all in flight
    // together, each stored with its own bytes.
    running.server.injectFault(fault({.method = "POST", .path = "/api/v1/documents", .delayMs = 300, .count = 3}));
    running.server.clearRequests();
    auto three = [&]() -> QCoro::Task<std::vector<UploadReceipt>> {
        std::vector<QCoro::Task<UploadReceipt>> pending;
        for (int i = 0; i < 3; ++i) {
            const QString path = files.filePath(QString("p%1.bin").arg(i));
            writeFile(path, QByteArray(100000 + i, char('a' + i)));
            pending.push_back(uploadFile(path, QString("p%1.bin").arg(i), folderId));
        }
        std::vector<UploadReceipt> done;
        for (auto &task : pending)
            done.push_back(co_await std::move(task));
        co_return done;
    };
    const auto uploaded = run(three());
    ASSERT_EQ(uploaded.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(running.server.content(uploaded[i].document.id), std::string(100000 + i, char('a' + i)));
    EXPECT_GE(running.server.peakInFlight("POST", "/api/v1/documents"), 2);

    // The file loses its tail after the upload started: the request fails
    // instead of sending a body shorter than announced, and nothing is stored.
    const QString path = files.filePath("shrinks.bin");
    writeFile(path, QByteArray(8 * 1024 * 1024, 's'));
    auto task = uploadFile(path, "shrinks.bin", folderId);
    QFile::resize(path, 1000);
    EXPECT_THROW(run(std::move(task)), NetworkError);
    for (const auto &document : running.server.documents(folderId))
        EXPECT_NE(document.name, "shrinks.bin");
}
