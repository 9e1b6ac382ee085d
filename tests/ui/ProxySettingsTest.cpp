// The "Network" tab of the settings: the proxy choice is stored, taken by
// the client at once, and found again at the next start.
#include "UiFixture.h"

#include "support/LoopbackProxy.h"
#include "ui/ProxySettingsView.h"

#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>

using testsupport::run;
using testsupport::waitUntil;

class ProxySettingsTest : public UiFixture {
protected:
    ProxySettingsView &networkTab(TavrelSyncApp &app)
    {
        app.openSettings();
        QTabWidget *tabs = app.settingsWindow()->tabs();
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->tabText(i) == "Network")
                return *qobject_cast<ProxySettingsView *>(tabs->widget(i));
        throw std::runtime_error("no Network tab");
    }

    std::optional<QString> signIn(TavrelSyncApp &app)
    {
        return run(signInAndStore(app.apiClient(), app.appState(), testsupport::RunningServer::email,
                                  testsupport::RunningServer::password, server.baseURL));
    }
};

TEST_F(ProxySettingsTest, AManualProxyIsUsedAtOnceAndKeptAcrossARestartAndNoProxyBypassesIt)
{
    testsupport::LoopbackProxy proxy;
    proxy.requireCredentials("me", "proxy secret");
    {
        TavrelSyncApp &app = makeApp();
        app.launch();
        ProxySettingsView &tab = networkTab(app);
        EXPECT_TRUE(tab.systemProxyButton()->isChecked()) << "the system's settings are the default";
        EXPECT_FALSE(tab.hostField()->isEnabled());

        tab.hostField()->setText("127.0.0.1");
        tab.portField()->setValue(proxy.port());
        tab.userField()->setText("me");
        tab.passwordField()->setText("proxy secret");
        tab.manualProxyButton()->setChecked(true);
        EXPECT_TRUE(tab.hostField()->isEnabled());
        EXPECT_EQ(app.proxySettings().mode, ProxySettings::Mode::manual);

        EXPECT_EQ(signIn(app), std::nullopt);
        ASSERT_FALSE(proxy.seen().isEmpty());
        EXPECT_EQ(proxy.seen().last().target, server.baseURL.toLatin1() + "/api/v1/auth/login");
    }

    // Stored: the choice beside the other keys, the password (no keyring in
    // the tests) in the private preferences file.
    ASSERT_TRUE(waitUntil([] { return Preferences().contains("proxyPassword"); }, "the proxy choice to be stored"));
    Preferences stored;
    EXPECT_EQ(stored.string("proxyMode"), "manual");
    EXPECT_EQ(stored.string("proxyHost"), "127.0.0.1");
    EXPECT_EQ(stored.doubleValue("proxyPort"), proxy.port());
    EXPECT_EQ(stored.string("proxyUser"), "me");

    // The next start uses it again, password and all.
    const qsizetype before = proxy.seen().size();
    TavrelSyncApp &app = makeApp();
    app.launch();
    EXPECT_EQ(app.proxySettings().password, "proxy secret");
    EXPECT_EQ(signIn(app), std::nullopt);
    EXPECT_GT(proxy.seen().size(), before);

    // "No proxy" goes direct.
    ProxySettingsView &tab = networkTab(app);
    tab.noProxyButton()->setChecked(true);
    const qsizetype direct = proxy.seen().size();
    EXPECT_EQ(signIn(app), std::nullopt);
    EXPECT_EQ(proxy.seen().size(), direct);
    ASSERT_TRUE(waitUntil([] { return Preferences().string("proxyMode") == "none"; }, "the choice to be stored"));
}
