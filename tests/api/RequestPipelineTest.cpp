// The generic request, the sign-in and their classification of answers, as
// the development server answered and recorded them.
#include "ApiFixture.h"

#include <QBuffer>

using testsupport::run;

namespace {
const char *loginBody = R"({"token":"fresh","user":{"id":1,"email":"e","display_name":"d","organization":"o"}})";
}

TEST_F(ApiFixture, RequestClassifiesStatusesInOrder)
{
    const std::string path = "/api/v1/folders";
    auto status = [&](int code, const std::string &body) {
        running.server.injectFault(fault({.path = path, .status = code, .body = body, .count = 1}));
        return failureOf<APIError>(client->requestBody("GET", "/api/v1/folders"));
    };
    EXPECT_EQ(status(500, R"({"error":"Disk full"})"), "Disk full");
    EXPECT_EQ(status(500, "<html>Bad gateway</html>"), "Request failed");
    EXPECT_EQ(status(503, R"({"message":"no error member"})"), "Request failed");
    EXPECT_EQ(status(404, R"({"error":"Folder gone"})"), "Not found");
    EXPECT_EQ(status(401, R"({"error":"Token expired"})"), "Invalid credentials");
    // A number beyond a double makes the body unreadable, nothing worse:
    // the error keeps its kind and the operation's own text.
    EXPECT_EQ(status(500, R"({"error":"Not found","x":1e999})"), "Request failed");

    EXPECT_TRUE(client->token().has_value()) << "a 401 leaves the token alone";

    // Any 2xx is a success; its body must decode as asked.
    running.server.injectFault(fault({.path = path, .status = 203, .body = "[]", .count = 1}));
    EXPECT_TRUE(run(client->request<std::vector<FolderResponse>>("GET", "/api/v1/folders")).empty());
    running.server.injectFault(fault({.path = path, .status = 200, .count = 1}));
    EXPECT_FALSE(failureOf<DecodingError>(client->request<std::vector<FolderResponse>>("GET", "/api/v1/folders")).isEmpty());
    running.server.injectFault(fault({.path = path, .status = 200, .error = "not a list", .count = 1}));
    failureOf<DecodingError>(client->request<std::vector<FolderResponse>>("GET", "/api/v1/folders"));

    // The status answer is decoded on a worker thread; what goes wrong there
    // still arrives as a decoding error.
    running.server.injectFault(fault({.path = "/api/v1/sync/status", .status = 200,
                                      .body = R"({"server_time":"T","folder":{"id":1,"name":"W"},"documents":[],"deleted_ids":[4e400]})",
                                      .count = 1}));
    EXPECT_TRUE(failureOf<DecodingError>(client->getSyncStatus(folderId, std::nullopt)).contains("not valid JSON"));
}

TEST_F(ApiFixture, AStatusAnswerIsDecodedAsItArrives)
{
    // Large enough to arrive in many pieces, and cut into them anywhere.
    std::string body = R"({"server_time":"T","folder":{"id":1,"name":"W"},"deleted_ids":[7,8],"documents":[)";
    const int count = 30000;
    for (int i = 0; i < count; ++i)
        body += std::string(i ? "," : "") + R"({"id":)" + std::to_string(i + 1) + R"(,"name":"n\u00e9)" + std::to_string(i)
            + R"(","file_hash":")" + std::string(64, "0123456789abcdef"[i % 16])
            + R"(","content_type":"text/plain","updated_at":"u)" + std::to_string(i % 7) + R"(","created_at":"c"})";
    body += "]}";
    running.server.injectFault(fault({.path = "/api/v1/sync/status", .status = 200, .body = body, .count = 1}));
    const SyncStatusResponse streamed = run(client->getSyncStatus(folderId, std::nullopt));
    const SyncStatusResponse whole = decodeBody<SyncStatusResponse>(QByteArray::fromStdString(body));
    ASSERT_EQ(streamed.documents.size(), std::size_t(count));
    for (std::size_t i = 0; i < streamed.documents.size(); i += 997) {
        EXPECT_EQ(streamed.documents[i].id, whole.documents[i].id);
        EXPECT_EQ(streamed.documents[i].name, whole.documents[i].name);
        EXPECT_EQ(streamed.documents[i].fileHash, whole.documents[i].fileHash);
        EXPECT_EQ(streamed.documents[i].updatedAt, whole.documents[i].updatedAt);
    }
    EXPECT_EQ(streamed.documents.back().name, QString::fromUtf8("n\xc3\xa9%1").arg(count - 1));
    EXPECT_EQ(streamed.deletedIds, (std::vector<qint64>{7, 8}));

    // An answer that goes wrong early is refused there, and what is wrong
    // with it is what the pass hears, not the transfer ended on its account.
    std::string badEarly = body;
    badEarly.replace(badEarly.find(R"([{"id":1,)"), 9, R"([{"id":"1",)");
    running.server.injectFault(fault({.path = "/api/v1/sync/status", .status = 200, .body = badEarly, .count = 1}));
    const QString badEarlyError = failureOf<DecodingError>(client->getSyncStatus(folderId, std::nullopt));
    EXPECT_TRUE(badEarlyError.contains("documents[0].id")) << badEarlyError.toStdString();
    // The client goes on: the next answer is read as usual.
    EXPECT_TRUE(run(client->getSyncStatus(folderId, std::nullopt)).documents.empty());

    // An error status keeps its body whole, for the message it carries.
    running.server.injectFault(fault({.path = "/api/v1/sync/status", .status = 500, .body = R"({"error":"Disk full"})", .count = 1}));
    EXPECT_EQ(failureOf<APIError>(client->getSyncStatus(folderId, std::nullopt)), "Disk full");

    // An answer cut short is the transfer's failure, though the decoder
    // also found it incomplete.
    for (int i = 0; i < 300; ++i)
        running.server.putDocument(testsupport::RunningServer::email, folderId, "d" + std::to_string(i), "x");
    running.server.injectFault(fault({.path = "/api/v1/sync/status", .dropMidBody = true, .count = 1}));
    failureOf<NetworkError>(client->getSyncStatus(folderId, std::nullopt));
    EXPECT_EQ(run(client->getSyncStatus(folderId, std::nullopt)).documents.size(), 300u);
}

TEST_F(ApiFixture, TransportFailuresArePassedOnAsNetworkErrors)
{
    // A closed port: nothing answers.
    DevServer closed;
    closed.start();
    const QString deadURL = QString::fromStdString(closed.baseURL());
    closed.stop();
    client->setBaseURL(deadURL);
    EXPECT_FALSE(failureOf<NetworkError>(client->requestBody("GET", "/api/v1/folders")).isEmpty());

    // An answer cut off in the middle of its body is not a success.
    client->setBaseURL(running.baseURL);
    for (int i = 0; i < 40; ++i)
        running.server.createFolder(testsupport::RunningServer::email, "F" + std::to_string(i), std::nullopt);
    running.server.injectFault(fault({.path = "/api/v1/folders", .dropMidBody = true, .count = 1}));
    failureOf<NetworkError>(client->requestBody("GET", "/api/v1/folders"));

    // Addresses that are not http(s) never reach the network.
    for (const QString base : {"", "not a url", "ftp://example.com", "file://"}) {
        SCOPED_TRACE(base.toStdString());
        client->setBaseURL(base);
        failureOf<NetworkError>(client->requestBody("GET", "/api/v1/folders"));
        failureOf<NetworkError>(client->uploadDocument(std::make_shared<QBuffer>(), "x", "x", 1));
    }
}

TEST_F(ApiFixture, HeadersFollowTokenAndBody)
{
    running.server.clearRequests();
    run(client->request<std::vector<FolderResponse>>("GET", "/api/v1/folders"));
    run(client->createFolder("Sub", folderId));
    const QString token = *client->token();
    client->setToken(std::nullopt);
    failureOf<APIError>(client->requestBody("GET", "/api/v1/folders"));
    client->setToken(QString());
    failureOf<APIError>(client->requestBody("GET", "/api/v1/folders"));

    client->setToken(QString("abc\r\nX-Injected: 1"));
    failureOf<APIError>(client->requestBody("GET", "/api/v1/folders"));
    client->setToken(token);
    EXPECT_FALSE(run(client->request<LogoutResponse>("DELETE", "/api/v1/auth/logout")).message.isEmpty());
    EXPECT_EQ(client->token(), token) << "the sign-out flow, not the client, forgets the token";

    const auto seen = requestsTo("/api/v1/folders");
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(header(seen[0], "authorization"), "Bearer " + token.toStdString());
    EXPECT_EQ(header(seen[0], "accept"), "application/json");
    EXPECT_EQ(header(seen[0], "content-type"), std::nullopt) << "no body, no Content-Type";
    EXPECT_EQ(header(seen[1], "content-type"), "application/json");
    EXPECT_EQ(nlohmann::json::parse(seen[1].body), (nlohmann::json{{"name", "Sub"}, {"parent_id", folderId}}));
    EXPECT_EQ(header(seen[2], "authorization"), std::nullopt) << "no token";
    EXPECT_EQ(header(seen[3], "authorization"), "Bearer ") << "an empty token is sent as it is";
    EXPECT_EQ(header(seen[4], "authorization"), std::nullopt) << "a token with a line break is no header";
    EXPECT_EQ(header(seen[4], "x-injected"), std::nullopt);
}

TEST_F(ApiFixture, PathsAndQueriesAsSent)
{
    running.server.clearRequests();
    client->setBaseURL(running.baseURL + "/");
    run(client->createFolder("Top", std::nullopt));
    run(client->getSyncStatus(folderId, std::nullopt));
    run(client->getSyncStatus(folderId, QString("2026-12-07T01:02:03+01:00")));
    running.server.injectFault(
        fault({.path = "/api/v1/sync/status", .status = 400, .error = "Invalid since time", .count = 1}));
    EXPECT_EQ(failureOf<APIError>(client->getSyncStatus(-12, QString::fromUtf8("a b&c=d/é%"))), "Invalid since time");

    const auto all = running.server.requests();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].target, "/api/v1/folders") << "a trailing slash on the base URL does not double";
    EXPECT_EQ(nlohmann::json::parse(all[0].body), (nlohmann::json{{"name", "Top"}}));
    EXPECT_EQ(all[1].target, "/api/v1/sync/status?folder_id=" + std::to_string(folderId));
    EXPECT_EQ(all[2].target, "/api/v1/sync/status?folder_id=" + std::to_string(folderId) + "&since=2026-12-07T01:02:03+01:00");
    EXPECT_EQ(all[3].target, "/api/v1/sync/status?folder_id=-12&since=a%20b&c=d/%C3%A9%25");

    EXPECT_EQ(APIClient::encodeQueryValue("AZaz09-._~!$&'()*+,;=:@/?"), "AZaz09-._~!$&'()*+,;=:@/?");
    EXPECT_EQ(APIClient::encodeQueryValue("\"#[]\\^`{|}<>\x7f"), "%22%23%5B%5D%5C%5E%60%7B%7C%7D%3C%3E%7F");
}

TEST_F(ApiFixture, SignInClassifiesAndStoresNothing)
{
    Preferences::waitForWrites();
    const QByteArray before = QFile::exists(home.preferencesPath()) ? testsupport::readFile(home.preferencesPath()) : "";
    const std::string path = "/api/v1/auth/login";
    auto signIn = [&](const QString &password = testsupport::RunningServer::password) {
        return client->login(testsupport::RunningServer::email, password, running.baseURL);
    };

    auto answer = [&](int status, const std::string &body) {
        running.server.injectFault(fault({.path = path, .status = status, .body = body, .count = 1}));
    };
    answer(201, loginBody);
    EXPECT_EQ(failureOf<APIError>(signIn()), "Login failed");
    answer(404, R"({"error":"No such service"})");
    EXPECT_EQ(failureOf<APIError>(signIn()), "No such service") << "sign-in has no 404 rule";
    answer(401, R"({"error":"whatever"})");
    EXPECT_EQ(failureOf<APIError>(signIn()), "Invalid credentials");
    EXPECT_EQ(failureOf<APIError>(signIn("wrong")), "Invalid credentials");
    answer(200, R"({"token":"t","user":{"id":1}})");
    failureOf<DecodingError>(signIn());
    EXPECT_NE(client->token(), "fresh");
    EXPECT_NE(client->token(), "t");

    const LoginResponse ok = run(signIn());
    EXPECT_EQ(client->token(), ok.token);
    const auto sent = requestsTo(path);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(header(sent.back(), "authorization"), std::nullopt) << "no token travels with the sign-in";
    EXPECT_EQ(header(sent.back(), "content-type"), "application/json");
    EXPECT_EQ(header(sent.back(), "accept"), "application/json");
    EXPECT_EQ(sent.back().body, R"({"email":"demo@tavrel.test","password":"demo-password"})");

    Preferences::waitForWrites();
    const QByteArray after = QFile::exists(home.preferencesPath()) ? testsupport::readFile(home.preferencesPath()) : "";
    EXPECT_EQ(before, after) << "the caller stores the credentials, not the client";

    // A failed sign-in elsewhere still moves the client to that server.
    DevServer other;
    other.start();
    const QString otherURL = QString::fromStdString(other.baseURL());
    failureOf<APIError>(client->login("nobody@x", "pw", otherURL));
    EXPECT_EQ(client->baseURL(), otherURL);
    EXPECT_EQ(client->token(), ok.token);
}

TEST_F(ApiFixture, RedirectsKeepTheTokenAtHome)
{
    DevServer elsewhere;
    elsewhere.start();
    elsewhere.addUser("x@y", "pw", "X", "Y");

    auto redirect = [&](const std::string &path, int status, const std::string &location) {
        running.server.injectFault(
            fault({.path = path, .status = status, .headers = {{"Location", location}}, .count = 1}));
    };
    redirect("/api/v1/folders", 307, elsewhere.baseURL() + "/api/v1/folders");
    EXPECT_EQ(failureOf<APIError>(client->requestBody("GET", "/api/v1/folders")), "Request failed");
    EXPECT_TRUE(elsewhere.requests().empty()) << "the request, token and all, never left for another origin";

    redirect("/api/v1/auth/login", 307, elsewhere.baseURL() + "/api/v1/auth/login");
    failureOf<APIError>(client->login(testsupport::RunningServer::email, "secret", running.baseURL));
    EXPECT_TRUE(elsewhere.requests().empty()) << "nor did the password";

    // Within the same server a redirect is followed, the token with it.
    redirect("/api/v1/old-folders", 308, running.server.baseURL() + "/api/v1/folders");
    running.server.clearRequests();
    EXPECT_NO_THROW(run(client->request<std::vector<FolderResponse>>("GET", "/api/v1/old-folders")));
    const auto followed = requestsTo("/api/v1/folders");
    ASSERT_FALSE(followed.empty());
    EXPECT_TRUE(header(followed.back(), "authorization").has_value());

    // A 307 on an upload sends the whole form again, from the file.
    redirect("/api/v1/documents", 307, "/api/v1/documents");
    const QString path = files.filePath("again.txt");
    testsupport::writeFile(path, QByteArray(50000, 'g'));
    const UploadReceipt uploaded = run(uploadFile(path, "again.txt", folderId));
    EXPECT_EQ(running.server.content(uploaded.document.id), std::string(50000, 'g'));
    // The hash taken while sending starts over with the resent form.
    EXPECT_EQ(uploaded.sentHash, uploaded.document.fileHash);
    EXPECT_EQ(uploaded.sentBytes, 50000);
}

TEST_F(ApiFixture, ServerAddressesTypedWithoutSchemeAndSignInFailureTexts)
{
    const std::pair<const char *, const char *> cases[] = {
        {"127.0.0.1:8765", "http://127.0.0.1:8765"},
        {"  127.4.5.6  ", "http://127.4.5.6"},
        {"localhost:8765/base", "http://localhost:8765/base"},
        {"LocalHost", "http://LocalHost"},
        {"::1", "http://[::1]"},
        {"[::1]:8765", "http://[::1]:8765"},
        {"docs.example.com", "https://docs.example.com"},
        {"128.0.0.1:443", "https://128.0.0.1:443"},
        {"localhost.example.com", "https://localhost.example.com"},
        {"http://docs.example.com", "http://docs.example.com"},
        {"https://127.0.0.1:9", "https://127.0.0.1:9"},
        {"", ""},
    };
    for (const auto &[typed, meant] : cases)
        EXPECT_EQ(APIClient::normalizedServerURL(typed), meant) << typed;

    const QString typed = running.baseURL.mid(QString("http://").size());
    EXPECT_FALSE(run(client->login(testsupport::RunningServer::email, testsupport::RunningServer::password, typed))
                     .token.isEmpty());
    EXPECT_EQ(client->baseURL(), running.baseURL);

    // Refused addresses are named as typed, never with the API's paths.
    for (const QString bad : {"http://", "https://exa mple.com"}) {
        const QString text = failureOf<NetworkError>(client->login("a@b", "pw", bad));
        EXPECT_TRUE(text.contains(bad)) << text.toStdString();
        EXPECT_FALSE(text.contains("/api/")) << text.toStdString();
        EXPECT_FALSE(failureOf<NetworkError>(client->requestBody("GET", "/api/v1/folders")).contains("/api/"));
    }

    // A server that takes the request and never answers.
    running.server.injectFault(fault({.path = "/api/v1/auth/login", .delayMs = 30 * 1000, .count = 1}));
    client->setSignInTimeoutMs(300);
    EXPECT_EQ(failureOf<NetworkError>(client->login("a@b", "pw", running.baseURL)), "The server did not answer.");
}

// A deletion or upload that names what it expects acts only on that: the
// server refuses it once the document has changed, and the refusal is told
// apart from other failures.
TEST_F(ApiFixture, ARequestExpectingAnotherVersionIsRefused)
{
    const std::string email = testsupport::RunningServer::email;
    const int64_t id = running.server.putDocument(email, folderId, "x.txt", "first");
    const QString first = QString::fromStdString(running.server.documents(folderId).front().fileHash);
    running.server.clearRequests();
    running.server.putDocument(email, folderId, "x.txt", "second");

    try {
        run(client->deleteDocument(id, ExpectedVersion::content(first)));
        ADD_FAILURE() << "an old version was deleted";
    } catch (const APIError &error) {
        EXPECT_TRUE(error.isChangedMeanwhile()) << error.description().toStdString();
        EXPECT_FALSE(error.isNotFound());
    }
    ASSERT_EQ(running.server.documents(folderId).size(), 1u);
    EXPECT_EQ(running.server.content(id), "second");
    EXPECT_EQ(header(requestsTo("/api/v1/documents/" + std::to_string(id)).at(0), "if-match"),
              "\"" + first.toStdString() + "\"");

    const QString second = QString::fromStdString(running.server.documents(folderId).front().fileHash);
    EXPECT_TRUE(run(client->deleteDocument(id, ExpectedVersion::content(second))).deleted);
    EXPECT_TRUE(running.server.documents(folderId).empty());
    EXPECT_EQ(failureOf<APIError>(client->deleteDocument(id, ExpectedVersion::content(second))), "Not found");

    // Without a version, whatever the server holds goes.
    const int64_t other = running.server.putDocument(email, folderId, "y.txt", "any");
    EXPECT_TRUE(run(client->deleteDocument(other)).deleted);
    EXPECT_EQ(header(requestsTo("/api/v1/documents/" + std::to_string(other)).at(0), "if-match"), std::nullopt);

    // An upload meant as a new document, or as the next version of an old
    // one, is refused once the name holds something else; the upload says
    // so in a header of the service's own, not in HTTP's conditions, which
    // would name the collection it is sent to.
    const int64_t taken = running.server.putDocument(email, folderId, "new.txt", "made elsewhere");
    testsupport::writeFile(home.filePath("new.txt"), "made here");
    running.server.clearRequests();
    for (const ExpectedVersion &expected : {ExpectedVersion::noDocument(), ExpectedVersion::content(first)}) {
        try {
            run(uploadFile(home.filePath("new.txt"), "new.txt", folderId, expected));
            ADD_FAILURE() << "a document made meanwhile was replaced";
        } catch (const APIError &error) {
            EXPECT_TRUE(error.isChangedMeanwhile()) << error.description().toStdString();
        }
    }
    EXPECT_EQ(running.server.content(taken), "made elsewhere");
    const auto sent = requestsTo("/api/v1/documents");
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(header(sent[0], "x-tavrel-replaces"), "none");
    EXPECT_EQ(header(sent[1], "x-tavrel-replaces"), first.toStdString());
    for (const auto &request : sent)
        EXPECT_EQ(header(request, "if-match").value_or("") + header(request, "if-none-match").value_or(""), "");
}
