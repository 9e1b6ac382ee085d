#pragma once

#include <QWidget>
#include <functional>
#include <optional>

class APIClient;
class AppState;
class QLabel;
class QLineEdit;
class QPushButton;
class Spinner;

// The sign-in window: server URL, e-mail and password, one "Sign In" button
// with a progress indicator while the request runs, and the failure's text
// in red under the fields. On success it stores the five session keys, fills
// AppState, runs onLogin and closes itself. A sign-in that is still running
// when the window is closed completes all the same.
class LoginView : public QWidget {
    Q_OBJECT
public:
    static constexpr int contentWidth = 320;

    LoginView(AppState &appState, APIClient &apiClient, std::function<void()> onLogin,
              QWidget *parent = nullptr);

    void signIn();

    bool isLoading() const { return m_isLoading; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }

    QLineEdit *serverField() const { return m_server; }
    QLineEdit *emailField() const { return m_email; }
    QLineEdit *passwordField() const { return m_password; }
    QPushButton *signInButton() const { return m_button; }
    QLabel *errorLabel() const { return m_error; }

signals:
    // After each sign-in attempt has ended, whatever its outcome.
    void attemptFinished();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void setLoading(bool loading);
    void setErrorMessage(std::optional<QString> message);
    void updateButton();

    AppState &m_appState;
    APIClient &m_apiClient;
    std::function<void()> m_onLogin;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;
    bool m_placed = false;

    QLineEdit *m_server;
    QLineEdit *m_email;
    QLineEdit *m_password;
    QLabel *m_error;
    QPushButton *m_button;
    Spinner *m_spinner;
};
