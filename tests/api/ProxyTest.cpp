// The client's requests through an HTTP proxy, and past it when told to go
// direct.
#include "ApiFixture.h"

#include "support/LoopbackProxy.h"

#include <QNetworkProxy>

using testsupport::run;

namespace {

QList<QByteArray> targets(const testsupport::LoopbackProxy &proxy)
{
    QList<QByteArray> result;
    for (const auto &seen : proxy.seen())
        result.append(seen.method + ' ' + seen.target);
    return result;
}

} // namespace

TEST_F(ApiFixture, SignInAndUploadGoThroughTheProxyGivenAndPastItWhenDirect)
{
    testsupport::LoopbackProxy proxy;
    proxy.requireCredentials("proxy-user", "proxy-pass");
    client->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", proxy.port(), "proxy-user", "proxy-pass"));

    const LoginResponse login = run(client->login(testsupport::RunningServer::email,
                                                  testsupport::RunningServer::password, running.baseURL));
    EXPECT_FALSE(login.token.isEmpty());
    const QString path = files.filePath("report.txt");
    testsupport::writeFile(path, QByteArray(200'000, 'r'));
    const UploadReceipt receipt = run(uploadFile(path, "report.txt", folderId));
    EXPECT_EQ(receipt.sentBytes, 200'000);
    EXPECT_EQ(receipt.document.fileHash, receipt.sentHash);

    // Both went through it, in absolute form, with the proxy's credentials
    // once it asked for them.
    const QByteArray origin = running.baseURL.toLatin1();
    const QList<QByteArray> seen = targets(proxy);
    EXPECT_TRUE(seen.contains("POST " + origin + "/api/v1/auth/login")) << seen.join('\n').toStdString();
    EXPECT_TRUE(seen.contains("POST " + origin + "/api/v1/documents")) << seen.join('\n').toStdString();
    EXPECT_EQ(proxy.seen().last().proxyAuthorization, "Basic " + QByteArray("proxy-user:proxy-pass").toBase64());
    const auto received = running.server.requests();
    EXPECT_TRUE(std::any_of(received.begin(), received.end(),
                            [](const auto &request) { return request.path == "/api/v1/documents"; }));

    // Direct: the proxy sees nothing more.
    const qsizetype before = proxy.seen().size();
    client->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    run(client->login(testsupport::RunningServer::email, testsupport::RunningServer::password, running.baseURL));
    run(uploadFile(path, "report.txt", folderId));
    EXPECT_EQ(proxy.seen().size(), before);
}
