#include "ui/LoginView.h"

#include "api/APIClient.h"
#include "platform/Preferences.h"
#include "state/AppState.h"
#include "state/CredentialStore.h"
#include "ui/ActionRow.h"
#include "ui/SessionFlows.h"
#include "ui/Spinner.h"
#include "ui/Symbols.h"
#include "ui/ViewStyle.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

using viewstyle::TextStyle;

namespace {

// A field with its label above it (the label names it for screen readers
// too, and a mnemonic reaches it from the keyboard).
QLineEdit *field(const QString &label, const QString &placeholder, QVBoxLayout *fields, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setPlaceholderText(placeholder);
    edit->setClearButtonEnabled(false);
    auto *caption = new QLabel(label, parent);
    caption->setBuddy(edit);
    edit->setAccessibleName(QString(label).remove(QLatin1Char('&')));
    auto *pair = new QVBoxLayout;
    pair->setSpacing(4);
    pair->addWidget(caption);
    pair->addWidget(edit);
    fields->addLayout(pair);
    return edit;
}

// The task holds only what it needs; the window may be closed (and gone)
// before the answer arrives, and the sign-in still completes.
QCoro::Task<> runSignIn(QPointer<LoginView> view, APIClient &apiClient, AppState &appState, QString email,
                        QString password, QString serverURL, std::function<void()> onLogin,
                        std::function<void(std::optional<QString>)> finishView)
{
    const std::optional<QString> failure =
        co_await signInAndStore(apiClient, appState, std::move(email), std::move(password), std::move(serverURL));
    if (failure) {
        if (view)
            finishView(failure);
        co_return;
    }
    if (view)
        finishView(std::nullopt);
    if (onLogin)
        onLogin();
    if (view)
        view->close();
}

} // namespace

LoginView::LoginView(AppState &appState, APIClient &apiClient, std::function<void()> onLogin, QWidget *parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_apiClient(apiClient)
    , m_onLogin(std::move(onLogin))
{
    setWindowTitle(tr("Sign In"));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto *icon = new QLabel(this);
    icon->setPixmap(symbols::appPixmap(64, devicePixelRatioF()));
    icon->setFixedSize(64, 64);
    layout->addWidget(icon, 0, Qt::AlignHCenter);
    auto *title = viewstyle::label(QStringLiteral("TavrelSync"), TextStyle::title2, QColor(), this);
    title->setFont(viewstyle::font(TextStyle::title2, true));
    layout->addWidget(title, 0, Qt::AlignHCenter);
    layout->addWidget(viewstyle::label(tr("Sign in to sync your documents"), TextStyle::subheadline,
                                       symbols::secondary()),
                      0, Qt::AlignHCenter);

    auto *fields = new QVBoxLayout;
    fields->setSpacing(12);
    // The last sign-in's server and e-mail, kept across sign-outs, spare
    // typing them again.
    const Preferences &preferences = appState.preferences();
    m_server = field(tr("&Server"), QStringLiteral("https://tavrel.example"), fields, this);
    // A session the server refused is signed in again where it was.
    const auto sessionServer = appState.isLoggedIn()
        ? CredentialStore(appState.preferences()).read(QStringLiteral("server_url"))
        : std::nullopt;
    const auto sessionUser = appState.isLoggedIn() ? appState.userInfo() : std::nullopt;
    m_server->setText(sessionServer.value_or(
        preferences.string(sessionflows::lastServerKey).value_or(APIClient::defaultOrigin())));
    m_email = field(tr("&Email"), QStringLiteral("you@example.com"), fields, this);
    m_email->setText(sessionUser && !sessionUser->email.isEmpty()
                         ? sessionUser->email
                         : preferences.string(sessionflows::lastEmailKey).value_or(QString()));
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    m_password = field(tr("&Password"), QString(), fields, this);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    layout->addLayout(fields);

    m_error = viewstyle::label(QString(), TextStyle::caption, symbols::red(), this);
    m_error->setObjectName(QStringLiteral("errorMessage"));
    m_error->setWordWrap(true);
    m_error->setAlignment(Qt::AlignHCenter);
    m_error->setMinimumWidth(contentWidth - 48);
    m_error->hide();
    layout->addWidget(m_error);

    m_button = new QPushButton(tr("Sign In"), this);
    m_button->setObjectName(QStringLiteral("signInButton"));
    makeProminent(m_button);
    m_spinner = new Spinner(14, Qt::white, m_button);
    m_spinner->hide();
    layout->addWidget(m_button);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel->hide();
    layout->addWidget(m_cancel);

    // Fields and buttons share the content width; the layout sizes the
    // window to it, wider only when a large desktop font needs more.
    for (QWidget *widget : std::initializer_list<QWidget *>{m_server, m_email, m_password, m_button, m_cancel})
        widget->setMinimumWidth(contentWidth - 48);

    connect(m_server, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(m_email, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(m_password, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(m_button, &QPushButton::clicked, this, &LoginView::signIn);
    connect(m_cancel, &QPushButton::clicked, this, &LoginView::cancel);
    // Return in any field signs in, under the button's conditions.
    for (QLineEdit *edit : {m_server, m_email, m_password})
        connect(edit, &QLineEdit::returnPressed, this, &LoginView::submitFromField);
    updateButton();
}

void LoginView::signIn()
{
    setLoading(true);
    setErrorMessage(std::nullopt);
    const quint64 attempt = ++m_attempt;
    QPointer<LoginView> self(this);
    runSignIn(self, m_apiClient, m_appState, m_email->text(), m_password->text(), m_server->text(), m_onLogin,
              [self, attempt](std::optional<QString> failure) {
                  // A cancelled attempt has already given the form back.
                  if (!self || self->m_attempt != attempt)
                      return;
                  if (failure)
                      self->setErrorMessage(failure);
                  self->setLoading(false);
                  emit self->attemptFinished();
              });
}

void LoginView::submitFromField()
{
    // One sign-in at a time (Cancel ends the running one first), and only
    // with every field filled: an empty password is no question to ask.
    if (m_button->isEnabled())
        signIn();
    else if (!m_isLoading)
        focusFirstEmptyField();
}

void LoginView::focusFirstEmptyField()
{
    for (QLineEdit *edit : {m_server, m_email, m_password}) {
        if (edit->text().trimmed().isEmpty()) {
            edit->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    m_password->setFocus(Qt::OtherFocusReason);
}

void LoginView::keyPressEvent(QKeyEvent *event)
{
    // Esc ends a running sign-in and closes the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cancel();
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LoginView::cancel()
{
    if (!m_isLoading)
        return;
    ++m_attempt;
    m_apiClient.cancelLogin();
    setLoading(false);
    emit attemptFinished();
}

void LoginView::setLoading(bool loading)
{
    m_isLoading = loading;
    m_button->setText(loading ? QString() : tr("Sign In"));
    m_spinner->move((m_button->width() - m_spinner->width()) / 2, (m_button->height() - m_spinner->height()) / 2);
    m_spinner->setVisible(loading);
    m_cancel->setVisible(loading);
    // What is being sent cannot change while it is sent.
    for (QLineEdit *edit : {m_server, m_email, m_password})
        edit->setReadOnly(loading);
    updateButton();
}

void LoginView::setErrorMessage(std::optional<QString> message)
{
    m_errorMessage = std::move(message);
    m_error->setText(m_errorMessage.value_or(QString()));
    m_error->setVisible(m_errorMessage.has_value());
}

void LoginView::updateButton()
{
    m_button->setEnabled(!m_server->text().trimmed().isEmpty() && !m_email->text().trimmed().isEmpty()
                         && !m_password->text().isEmpty() && !m_isLoading);
}

void LoginView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        if (QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
        // With the server and e-mail remembered, typing starts in the
        // password.
        focusFirstEmptyField();
    }
    raise();
    activateWindow();
}
