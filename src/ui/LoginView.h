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
// with a progress indicator while the request runs (and "Cancel" beside it),
// and the failure's text in red under the fields, in words that say what to
// do. Return in any field signs in once every field is filled; the fields
// are locked while the request runs; Esc cancels and closes. The server and
// e-mail of the last sign-in are filled in, and the focus starts in the
// first empty field. On success it
// stores the five session keys, fills AppState, runs onLogin and closes
// itself. A sign-in that is still running when the window is closed
// completes all the same.
class LoginView : public QWidget {
    Q_OBJECT
public:
    static constexpr int contentWidth = 320;

    LoginView(AppState &appState, APIClient &apiClient, std::function<void()> onLogin,
              QWidget *parent = nullptr);

    void signIn();
    // Ends the running sign-in: nothing is stored and the form is editable.
    void cancel();

    bool isLoading() const { return m_isLoading; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }

    QLineEdit *serverField() const { return m_server; }
    QLineEdit *emailField() const { return m_email; }
    QLineEdit *passwordField() const { return m_password; }
    QPushButton *signInButton() const { return m_button; }
    QPushButton *cancelButton() const { return m_cancel; }
    QLabel *errorLabel() const { return m_error; }

signals:
    // After each sign-in attempt has ended, whatever its outcome.
    void attemptFinished();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void submitFromField();
    void focusFirstEmptyField();
    void setLoading(bool loading);
    void setErrorMessage(std::optional<QString> message);
    void updateButton();

    AppState &m_appState;
    APIClient &m_apiClient;
    std::function<void()> m_onLogin;
    bool m_isLoading = false;
    std::optional<QString> m_errorMessage;
    bool m_placed = false;
    quint64 m_attempt = 0; // the attempt whose outcome the form shows

    QLineEdit *m_server;
    QLineEdit *m_email;
    QLineEdit *m_password;
    QLabel *m_error;
    QPushButton *m_button;
    QPushButton *m_cancel;
    Spinner *m_spinner;
};
