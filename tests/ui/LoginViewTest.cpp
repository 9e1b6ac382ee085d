#include "UiFixture.h"

#include "api/APIClient.h"
#include "state/AppState.h"
#include "ui/LoginView.h"
#include "ui/MenuBarView.h"
#include "ui/SessionFlows.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using testsupport::fault;
using testsupport::RunningServer;
using testsupport::waitUntil;

class LoginTest : public UiFixture {
protected:
    LoginView &openLogin()
    {
        TavrelSyncApp &app = makeApp();
        app.openLogin();
        return *app.loginWindow();
    }

    void fill(LoginView &login, const QString &password)
    {
        login.serverField()->setText(server.baseURL);
        login.emailField()->setText(RunningServer::email);
        login.passwordField()->setText(password);
    }
};

TEST_F(LoginTest, ButtonNeedsEmailAndPassword)
{
    Preferences().setString("tavrel_server_url", "https://elsewhere.example");
    LoginView &login = openLogin();
    EXPECT_EQ(login.serverField()->text(), APIClient::defaultOrigin());

    QPushButton *button = login.signInButton();
    EXPECT_FALSE(button->isEnabled());
    login.emailField()->setText("someone@tavrel.test");
    EXPECT_FALSE(button->isEnabled());
    login.passwordField()->setText("secret");
    EXPECT_TRUE(button->isEnabled());
    login.serverField()->clear(); // plays no part
    EXPECT_TRUE(button->isEnabled());
    login.emailField()->clear();
    EXPECT_FALSE(button->isEnabled());

    // A second request brings the same window forward.
    m_app->openLogin();
    EXPECT_EQ(m_app->loginWindow(), &login);
}

TEST_F(LoginTest, SuccessStoresSessionStartsEngineAndCloses)
{
    LoginView &login = openLogin();
    QPointer<LoginView> window(&login);
    fill(login, RunningServer::password);
    login.signInButton()->click();
    EXPECT_TRUE(login.isLoading());
    EXPECT_FALSE(login.signInButton()->isEnabled());

    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }, "the window to close"));
    Preferences stored;
    EXPECT_FALSE(stored.string("tavrel_api_token").value_or("").isEmpty());
    EXPECT_EQ(stored.string("tavrel_server_url"), server.baseURL);
    EXPECT_EQ(stored.string("tavrel_user_org"), "Tavrel Demo");

    AppState &state = m_app->appState();
    EXPECT_TRUE(state.isLoggedIn());
    ASSERT_TRUE(state.userInfo().has_value());
    EXPECT_EQ(state.userInfo()->firstName, "Demo");
    ASSERT_NE(m_app->syncEngine(), nullptr);
    EXPECT_TRUE(m_app->syncEngine()->syncTimer() && m_app->syncEngine()->syncTimer()->isActive());
    EXPECT_TRUE(m_app->menuBarView()->showsSignedInFace());
}

TEST_F(LoginTest, FailureShowsRedTextAndStoresNothing)
{
    LoginView &login = openLogin();
    fill(login, "wrong-password");
    QSignalSpy finished(&login, &LoginView::attemptFinished);
    login.signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }, "the attempt to end"));

    EXPECT_EQ(login.errorMessage(), "Invalid credentials");
    EXPECT_TRUE(login.errorLabel()->isVisible());
    EXPECT_FALSE(login.isLoading());
    EXPECT_TRUE(login.isVisible());
    EXPECT_EQ(login.passwordField()->text(), "wrong-password"); // kept for correcting
    EXPECT_FALSE(Preferences().contains("tavrel_api_token"));
    EXPECT_FALSE(m_app->appState().isLoggedIn());
    EXPECT_EQ(m_app->syncEngine(), nullptr);

    // A new attempt removes the old text at once; Return in the password
    // field signs in even with the e-mail empty, and the server decides.
    login.emailField()->clear();
    QTest::keyClick(login.passwordField(), Qt::Key_Return);
    EXPECT_FALSE(login.errorMessage().has_value());
    EXPECT_TRUE(login.errorLabel()->isHidden());
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 2; }, "the second attempt to end"));
    EXPECT_TRUE(login.errorMessage().has_value());
    EXPECT_FALSE(Preferences().contains("tavrel_api_token"));
}

// A sign-in still running when the window is closed completes all the same,
// and the stored address is the one that issued the token, even when the
// field was edited while the request ran.
TEST_F(LoginTest, SignInOutlivesItsWindow)
{
    server.server.injectFault(fault({.method = "POST", .path = "/api/v1/auth/login", .delayMs = 600, .count = 1}));
    LoginView &login = openLogin();
    QPointer<LoginView> window(&login);
    fill(login, RunningServer::password);
    login.signInButton()->click();
    login.serverField()->setText("https://typed-meanwhile.example");
    login.close();
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }, "the window to close"));
    EXPECT_FALSE(m_app->appState().isLoggedIn());

    ASSERT_TRUE(waitUntil([&] { return m_app->appState().isLoggedIn(); }, "the sign-in to complete"));
    EXPECT_EQ(Preferences().string("tavrel_server_url"), server.baseURL);
    EXPECT_EQ(m_app->appState().userInfo()->organization, "Tavrel Demo");
    EXPECT_NE(m_app->syncEngine(), nullptr);

    // Opening it again fills in where the last sign-in went.
    m_app->openLogin();
    EXPECT_EQ(m_app->loginWindow()->emailField()->text(), RunningServer::email);
    EXPECT_EQ(m_app->loginWindow()->serverField()->text(), server.baseURL);
    EXPECT_TRUE(m_app->loginWindow()->passwordField()->text().isEmpty());
}

// What a person types: the address without a scheme, Return from whichever
// field they are in; after signing out, the server and e-mail are still there.
TEST_F(LoginTest, TypedAddressReturnFromAnyFieldAndKeptAfterSignOut)
{
    LoginView &login = openLogin();
    QSignalSpy finished(&login, &LoginView::attemptFinished);
    const QString typed = server.baseURL.mid(QString("http://").size()); // "127.0.0.1:PORT"
    login.serverField()->setText(typed);
    login.emailField()->setText(RunningServer::email);
    login.passwordField()->setText("wrong-password");
    QTest::keyClick(login.serverField(), Qt::Key_Return);
    EXPECT_TRUE(login.isLoading());
    QTest::keyClick(login.emailField(), Qt::Key_Return); // one sign-in at a time
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }, "the attempt to end"));
    EXPECT_EQ(login.errorMessage(), "Invalid credentials");
    EXPECT_EQ(server.server.requests().size(), 1u);

    QPointer<LoginView> window(&login);
    login.passwordField()->setText(RunningServer::password);
    QTest::keyClick(login.emailField(), Qt::Key_Enter);
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }, "the window to close"));
    EXPECT_EQ(Preferences().string("tavrel_server_url"), server.baseURL);

    testsupport::run(signOut(m_app->apiClient(), m_app->appState(), {}));
    EXPECT_FALSE(Preferences().contains("tavrel_server_url"));
    m_app->openLogin();
    EXPECT_EQ(m_app->loginWindow()->serverField()->text(), server.baseURL);
    EXPECT_EQ(m_app->loginWindow()->emailField()->text(), RunningServer::email);
}

// A server that does not answer: Cancel gives the form back at once and
// nothing is stored; left to run, the attempt ends with a plain sentence.
TEST_F(LoginTest, CancelAndNoAnswer)
{
    server.server.injectFault(fault({.method = "POST", .path = "/api/v1/auth/login", .delayMs = 30000}));
    LoginView &login = openLogin();
    fill(login, RunningServer::password);
    EXPECT_TRUE(login.cancelButton()->isHidden());
    login.signInButton()->click();
    EXPECT_TRUE(login.cancelButton()->isVisible());
    ASSERT_TRUE(waitUntil([&] { return !server.server.requests().empty(); },
                          "the sign-in request to reach the server"));
    login.cancelButton()->click();
    EXPECT_FALSE(login.isLoading());
    EXPECT_TRUE(login.signInButton()->isEnabled());
    EXPECT_FALSE(login.errorMessage().has_value());

    m_app->apiClient().setSignInTimeoutMs(300);
    QSignalSpy finished(&login, &LoginView::attemptFinished);
    login.signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }, "the attempt to end"));
    EXPECT_EQ(login.errorMessage(), "The server did not answer.");
    EXPECT_FALSE(m_app->appState().isLoggedIn());
    EXPECT_FALSE(Preferences().contains("tavrel_api_token"));
}
