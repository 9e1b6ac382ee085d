// How the server treats connections: kept-alive ones that go quiet, and
// HTTPS with a certificate the client may or may not trust.
#include "api/APIClient.h"
#include "api/Errors.h"
#include "platform/Preferences.h"
#include "support/TestSupport.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

using testsupport::RunningServer;

// A kept-alive connection left idle past the time-out is closed by the
// server at once, so a client that reuses it answers on a new one instead
// of waiting for an answer that never comes.
TEST(ConnectionTest, IdleKeptAliveConnectionIsClosedWhenItsTimeOutFires)
{
    DevServer::Options options;
    options.idleTimeoutMs = 300;
    DevServer server(options);
    server.start();
    server.addUser(RunningServer::email, RunningServer::password, "Demo User", "Tavrel Demo");
    testsupport::TempHome home;
    Preferences preferences;
    APIClient client(preferences);
    client.setStallTimeoutMs(3000); // a hang shows as a failure, not a long wait
    testsupport::run(client.login(RunningServer::email, RunningServer::password,
                                  QString::fromStdString(server.baseURL())));
    testsupport::run(client.listFolders());
    testsupport::settle(600); // past the idle time-out
    EXPECT_NO_THROW(testsupport::run(client.listFolders()));
}

namespace {

// A fresh key and a self-signed certificate for 127.0.0.1 and localhost,
// written as PEM files.
void writeSelfSigned(const QString &certificatePath, const QString &keyPath)
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    X509 *certificate = X509_new();
    ASSERT_TRUE(key && certificate);
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600);
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("TavrelSync test server"),
                               -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    X509_set_pubkey(certificate, key);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    for (const auto &[nid, value] : {std::pair{NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                                     std::pair{NID_basic_constraints, "critical,CA:TRUE"}}) {
        X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        ASSERT_NE(extension, nullptr);
        X509_add_ext(certificate, extension, -1);
        X509_EXTENSION_free(extension);
    }
    ASSERT_GT(X509_sign(certificate, key, EVP_sha256()), 0);

    FILE *out = std::fopen(QFile::encodeName(certificatePath).constData(), "w");
    ASSERT_NE(out, nullptr);
    PEM_write_X509(out, certificate);
    std::fclose(out);
    out = std::fopen(QFile::encodeName(keyPath).constData(), "w");
    ASSERT_NE(out, nullptr);
    PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(out);
    X509_free(certificate);
    EVP_PKEY_free(key);
}

// Sets an environment variable for one scope.
struct ScopedEnvironment {
    ScopedEnvironment(const char *name, const QByteArray &value) : name(name), old(qgetenv(name)), had(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedEnvironment() { had ? void(qputenv(name, old)) : void(qunsetenv(name)); }
    const char *name;
    QByteArray old;
    bool had;
};

} // namespace

TEST(ConnectionTest, SelfSignedCertificateIsRefusedUntilTrusted)
{
    QTemporaryDir dir;
    const QString certificate = dir.filePath("server.pem"), key = dir.filePath("server.key");
    writeSelfSigned(certificate, key);

    DevServer::Options options;
    options.certificateFile = certificate.toStdString();
    options.keyFile = key.toStdString();
    DevServer server(options);
    server.start();
    server.addUser(RunningServer::email, RunningServer::password, "Demo User", "Tavrel Demo");
    const QString origin = QString::fromStdString(server.baseURL());
    ASSERT_TRUE(origin.startsWith("https://127.0.0.1:"));

    testsupport::TempHome home;
    Preferences preferences;
    {
        APIClient client(preferences);
        try {
            testsupport::run(client.login(RunningServer::email, RunningServer::password, origin));
            FAIL() << "an untrusted certificate was accepted";
        } catch (const NetworkError &error) {
            EXPECT_TRUE(error.description().contains("not trusted")) << error.description().toStdString();
            EXPECT_TRUE(error.description().contains("self-signed")) << error.description().toStdString();
        }
    }

    // Trusted through the usual variable, the same certificate is accepted.
    ScopedEnvironment trust("SSL_CERT_FILE", QFile::encodeName(certificate));
    APIClient client(preferences);
    const LoginResponse response =
        testsupport::run(client.login(RunningServer::email, RunningServer::password, origin));
    EXPECT_FALSE(response.token.isEmpty());
    EXPECT_NO_THROW(testsupport::run(client.listFolders()));
}
