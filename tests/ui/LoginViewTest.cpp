#include "UiFixture.h"

#include "platform/Logging.h"

#include <QApplication>
#include <QHostAddress>
#include <QTcpServer>

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

TEST_F(LoginTest, ButtonNeedsEveryField)
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
    login.serverField()->clear();
    EXPECT_FALSE(button->isEnabled());
}

// What a person types: the address without a scheme, Return from whichever
// field they are in. A wrong password is said in red and stores nothing; the
// right one stores the session, starts the engine and closes the window;
// after signing out, the server and e-mail are still there.
TEST_F(LoginTest, WrongThenRightPasswordTypedWithReturn)
{
    LoginView &login = openLogin();
    QSignalSpy finished(&login, &LoginView::attemptFinished);
    login.serverField()->setText(server.baseURL.mid(QString("http://").size())); // "127.0.0.1:PORT"
    login.emailField()->setText(RunningServer::email);
    login.passwordField()->setText("wrong-password");
    QTest::keyClick(login.serverField(), Qt::Key_Return);
    EXPECT_TRUE(login.isLoading());
    EXPECT_FALSE(login.signInButton()->isEnabled());
    EXPECT_TRUE(login.passwordField()->isReadOnly()); // locked while it runs
    QTest::keyClick(login.emailField(), Qt::Key_Return); // one sign-in at a time
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }, "the attempt to end"));
    EXPECT_EQ(login.errorMessage(), "The e-mail or password is not right. Check them and try again.");
    EXPECT_TRUE(login.errorLabel()->isVisible());
    EXPECT_FALSE(login.isLoading());
    EXPECT_FALSE(login.passwordField()->isReadOnly());
    EXPECT_EQ(login.passwordField()->text(), "wrong-password"); // kept for correcting
    EXPECT_EQ(server.server.requests().size(), 1u);
    EXPECT_FALSE(Preferences().contains("tavrel_api_token"));
    EXPECT_FALSE(m_app->appState().isLoggedIn());
    EXPECT_EQ(m_app->syncEngine(), nullptr);

    // Return with a field empty sends nothing; a new attempt removes the old
    // text at once.
    login.emailField()->clear();
    QTest::keyClick(login.passwordField(), Qt::Key_Return);
    EXPECT_FALSE(login.isLoading());
    EXPECT_EQ(server.server.requests().size(), 1u);
    login.emailField()->setText(RunningServer::email);
    login.passwordField()->setText(RunningServer::password);
    QPointer<LoginView> window(&login);
    QTest::keyClick(login.emailField(), Qt::Key_Enter);
    EXPECT_FALSE(login.errorMessage().has_value());
    EXPECT_TRUE(login.errorLabel()->isHidden());
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

    testsupport::run(signOut(m_app->apiClient(), state, {}));
    EXPECT_FALSE(Preferences().contains("tavrel_server_url"));
    m_app->openLogin();
    EXPECT_EQ(m_app->loginWindow()->serverField()->text(), server.baseURL);
    EXPECT_EQ(m_app->loginWindow()->emailField()->text(), RunningServer::email);
    EXPECT_TRUE(m_app->loginWindow()->passwordField()->text().isEmpty());
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
}

// A server that does not answer: Cancel gives the form back at once. (Left
// to run, the client's time-out ends it with a plain sentence.)
TEST_F(LoginTest, CancelGivesTheFormBack)
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
    EXPECT_FALSE(m_app->appState().isLoggedIn());
}

// Failures say what to do, in the user's words; the log never holds what
// was typed into the server field.
TEST_F(LoginTest, FailuresInPlainWordsAndNothingTypedInTheLog)
{
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close(); // nothing listens there now
    LoginView &login = openLogin();
    QSignalSpy finished(&login, &LoginView::attemptFinished);
    testsupport::LogCapture log({&lcApp()});
    login.serverField()->setText(QString("127.0.0.1:%1").arg(port));
    login.emailField()->setText(RunningServer::email);
    login.passwordField()->setText("hunter2-secret");
    login.signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 1; }, "the attempt to end"));
    EXPECT_EQ(login.errorMessage(), QString("Could not reach 127.0.0.1:%1. Is the server running?").arg(port));

    // https:// against this plain-HTTP server: said at once, with the way.
    const QString plain = server.baseURL; // "http://127.0.0.1:PORT"
    login.serverField()->setText("https://" + plain.mid(QString("http://").size()));
    login.signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 2; }, "the https attempt to end"));
    EXPECT_EQ(login.errorMessage(), "This server does not speak HTTPS; try " + plain);

    // A password typed as the host name stays out of the log.
    login.serverField()->setText("hunter2-secret.invalid");
    login.signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return finished.count() == 3; }, "the third attempt to end"));
    EXPECT_TRUE(login.errorMessage()->startsWith("Could not find the server hunter2-secret.invalid"))
        << login.errorMessage()->toStdString();
    EXPECT_TRUE(log.linesWith("hunter2").isEmpty()) << log.lines().join("\n").toStdString();

    // Esc ends and closes.
    QPointer<LoginView> window(&login);
    QTest::keyClick(&login, Qt::Key_Escape);
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }, "the window to close"));
}

// With the server and e-mail remembered, typing starts in the password; the
// first sign-in opens the folder chooser.
TEST_F(LoginTest, FocusOnTheFirstEmptyFieldAndTheFolderChooserAfterTheFirstSignIn)
{
    Preferences().setString("lastServerURL", server.baseURL);
    Preferences().setString("lastEmail", RunningServer::email);
    LoginView &login = openLogin();
    login.activateWindow();
    ASSERT_TRUE(waitUntil([&] { return login.passwordField()->hasFocus() || QApplication::focusWidget() == login.passwordField(); },
                          "the focus in the password"));
    QPointer<LoginView> window(&login);
    const QString folder = makeFolder("Chosen");
    chosenFolder = folder;
    login.passwordField()->setText(RunningServer::password);
    login.signInButton()->click();
    ASSERT_TRUE(waitUntil([&] { return window.isNull(); }, "the window to close"));
    ASSERT_TRUE(waitUntil([&] { return folderChooserRuns == 1; }, "the folder chooser"));
    EXPECT_EQ(m_app->appState().watchedFolders(), QStringList{folder});
}
