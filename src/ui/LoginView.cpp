#include "ui/LoginView.h"

#include "api/APIClient.h"
#include "state/AppState.h"
#include "ui/ActionRow.h"
#include "ui/SessionFlows.h"
#include "ui/Spinner.h"
#include "ui/Symbols.h"
#include "ui/ViewStyle.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

using viewstyle::TextStyle;

namespace {

QLineEdit *field(const QString &placeholder, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setPlaceholderText(placeholder);
    edit->setClearButtonEnabled(false);
    edit->setMinimumHeight(26);
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
    setWindowTitle(QStringLiteral("Sign In"));

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
    layout->addWidget(viewstyle::label(QStringLiteral("Sign in to sync your documents"), TextStyle::subheadline,
                                       symbols::secondary()),
                      0, Qt::AlignHCenter);

    auto *fields = new QVBoxLayout;
    fields->setSpacing(12);
    m_server = field(QStringLiteral("Server URL"), this);
    m_server->setText(APIClient::defaultOrigin());
    m_email = field(QStringLiteral("Email"), this);
    m_email->setInputMethodHints(Qt::ImhEmailCharactersOnly | Qt::ImhNoAutoUppercase);
    m_password = field(QStringLiteral("Password"), this);
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    fields->addWidget(m_server);
    fields->addWidget(m_email);
    fields->addWidget(m_password);
    layout->addLayout(fields);

    m_error = viewstyle::label(QString(), TextStyle::caption, symbols::red(), this);
    m_error->setObjectName(QStringLiteral("errorMessage"));
    m_error->setWordWrap(true);
    m_error->setAlignment(Qt::AlignHCenter);
    m_error->setFixedWidth(contentWidth - 48);
    m_error->hide();
    layout->addWidget(m_error);

    m_button = new QPushButton(QStringLiteral("Sign In"), this);
    m_button->setObjectName(QStringLiteral("signInButton"));
    makeProminent(m_button);
    m_button->setFixedWidth(contentWidth - 48);
    m_button->setMinimumHeight(30);
    m_spinner = new Spinner(14, Qt::white, m_button);
    m_spinner->hide();
    layout->addWidget(m_button);

    // Fields and button share the content width; the layout fixes the window to it.
    for (QLineEdit *edit : {m_server, m_email, m_password})
        edit->setFixedWidth(contentWidth - 48);

    connect(m_email, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(m_password, &QLineEdit::textChanged, this, &LoginView::updateButton);
    connect(m_button, &QPushButton::clicked, this, &LoginView::signIn);
    // Return in the password field signs in without the button's conditions.
    connect(m_password, &QLineEdit::returnPressed, this, &LoginView::signIn);
    updateButton();
}

void LoginView::signIn()
{
    setLoading(true);
    setErrorMessage(std::nullopt);
    QPointer<LoginView> self(this);
    runSignIn(self, m_apiClient, m_appState, m_email->text(), m_password->text(), m_server->text(), m_onLogin,
              [self](std::optional<QString> failure) {
                  if (!self)
                      return;
                  if (failure)
                      self->setErrorMessage(failure);
                  self->setLoading(false);
                  emit self->attemptFinished();
              });
}

void LoginView::setLoading(bool loading)
{
    m_isLoading = loading;
    m_button->setText(loading ? QString() : QStringLiteral("Sign In"));
    m_spinner->move((m_button->width() - m_spinner->width()) / 2, (m_button->height() - m_spinner->height()) / 2);
    m_spinner->setVisible(loading);
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
    m_button->setEnabled(!m_email->text().isEmpty() && !m_password->text().isEmpty() && !m_isLoading);
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
    }
    raise();
    activateWindow();
}
