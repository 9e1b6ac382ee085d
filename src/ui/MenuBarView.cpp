#include "ui/MenuBarView.h"

#include "state/AppState.h"
#include "sync/SyncEngine.h"
#include "ui/ActionRow.h"
#include "ui/ElidedLabel.h"
#include "ui/Symbols.h"
#include "ui/SyncStatusView.h"
#include "ui/ViewStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using viewstyle::TextStyle;

MenuBarView::MenuBarView(AppState &appState, QWidget *parent)
    : QWidget(parent)
    , m_appState(appState)
{
    setFixedWidth(panelWidth);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_signedOutFace = buildSignedOutFace();
    m_signedInFace = buildSignedInFace();
    layout->addWidget(m_signedOutFace);
    layout->addWidget(m_signedInFace);

    connect(&appState, &AppState::isLoggedInChanged, this, &MenuBarView::refresh);
    connect(&appState, &AppState::userInfoChanged, this, &MenuBarView::refresh);
    connect(&appState, &AppState::syncStatusChanged, this, &MenuBarView::refresh);
    connect(&appState, &AppState::isPausedChanged, this, &MenuBarView::refresh);
    connect(&appState, &AppState::sessionRejectedChanged, this, &MenuBarView::refresh);
    refresh();
}

QWidget *MenuBarView::buildSignedOutFace()
{
    auto *face = new QWidget(this);
    face->setObjectName(QStringLiteral("signedOutFace"));
    auto *layout = new QVBoxLayout(face);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setSpacing(12);

    auto *icon = new QLabel(face);
    icon->setPixmap(symbols::appPixmap(48, devicePixelRatioF()));
    icon->setFixedSize(48, 48);
    layout->addWidget(icon, 0, Qt::AlignHCenter);

    layout->addWidget(viewstyle::label(QStringLiteral("TavrelSync"), TextStyle::headline), 0, Qt::AlignHCenter);
    layout->addWidget(viewstyle::label(tr("Sign in to start syncing"), TextStyle::caption, symbols::secondary()),
                      0, Qt::AlignHCenter);

    auto *signIn = new QPushButton(tr("Sign In..."), face);
    signIn->setObjectName(QStringLiteral("signInButton"));
    makeProminent(signIn, true);
    connect(signIn, &QPushButton::clicked, this, &MenuBarView::signInRequested);
    layout->addWidget(signIn, 0, Qt::AlignHCenter);

    layout->addWidget(viewstyle::divider(face));

    auto *quit = new QPushButton(tr("Quit"), face);
    quit->setObjectName(QStringLiteral("quitButton"));
    quit->setFlat(true);
    quit->setFont(viewstyle::font(TextStyle::caption));
    quit->setCursor(Qt::PointingHandCursor);
    quit->setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 2px 6px; }"
                                       "QPushButton:hover { text-decoration: underline; }"));
    connect(quit, &QPushButton::clicked, this, &MenuBarView::quitRequested);
    layout->addWidget(quit, 0, Qt::AlignHCenter);
    return face;
}

QWidget *MenuBarView::buildSignedInFace()
{
    auto *face = new QWidget(this);
    face->setObjectName(QStringLiteral("signedInFace"));
    auto *layout = new QVBoxLayout(face);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *header = new QWidget(face);
    auto *headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(12, 8, 12, 8);
    headerLayout->addWidget(viewstyle::label(QStringLiteral("TavrelSync"), TextStyle::headline, QColor(), header));
    // The organization takes all the room beside the name (right-aligned),
    // and is cut only when it does not fit there; its tooltip holds it whole.
    auto *organization = new ElidedLabel(QString(), header);
    organization->setObjectName(QStringLiteral("organization"));
    organization->setFont(viewstyle::font(TextStyle::caption));
    organization->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    viewstyle::setColor(organization, symbols::secondary());
    m_organization = organization;
    headerLayout->addWidget(organization, 1);
    layout->addWidget(header);

    layout->addWidget(viewstyle::divider(face));
    m_statusView = new SyncStatusView(m_appState, face);
    connect(m_statusView, &SyncStatusView::settingsRequested, this, &MenuBarView::settingsRequested);
    connect(m_statusView, &SyncStatusView::addFolderRequested, this, &MenuBarView::addFolderRequested);
    connect(m_statusView, &SyncStatusView::notSyncedRequested, this, &MenuBarView::notSyncedListRequested);
    connect(m_statusView, &SyncStatusView::signInRequested, this, &MenuBarView::signInRequested);
    connect(m_statusView, &SyncStatusView::removalAnswered, this, [this](const QString &folder, bool remove) {
        if (m_syncEngine)
            m_syncEngine->answerRemovalQuestion(folder, remove);
    });
    layout->addWidget(m_statusView);
    layout->addWidget(viewstyle::divider(face));

    m_syncNowButton = new ActionRow(QStringLiteral("arrow.triangle.2.circlepath"), tr("Sync Now"), face);
    m_syncNowButton->setObjectName(QStringLiteral("syncNowButton"));
    connect(m_syncNowButton, &QPushButton::clicked, this, &MenuBarView::syncNow);
    layout->addWidget(m_syncNowButton);

    m_pauseButton = new ActionRow(QStringLiteral("pause.circle.fill"), tr("Pause Syncing"), face);
    m_pauseButton->setObjectName(QStringLiteral("pauseButton"));
    connect(m_pauseButton, &QPushButton::clicked, this, [this] { m_appState.setPaused(!m_appState.isPaused()); });
    layout->addWidget(m_pauseButton);

    auto *settings = new ActionRow(QStringLiteral("gear"), tr("Settings..."), face);
    settings->setObjectName(QStringLiteral("settingsButton"));
    connect(settings, &QPushButton::clicked, this, &MenuBarView::settingsRequested);
    layout->addWidget(settings);

    layout->addWidget(viewstyle::divider(face));

    auto *quit = new ActionRow(QStringLiteral("power"), tr("Quit TavrelSync"), face);
    quit->setObjectName(QStringLiteral("quitTavrelSyncButton"));
    connect(quit, &QPushButton::clicked, this, &MenuBarView::quitRequested);
    layout->addWidget(quit);
    return face;
}

bool MenuBarView::showsSignedInFace() const { return !m_signedInFace->isHidden(); }

void MenuBarView::refresh()
{
    const bool signedIn = m_appState.isLoggedIn();
    m_signedOutFace->setVisible(!signedIn);
    m_signedInFace->setVisible(signedIn);

    const auto user = m_appState.userInfo();
    m_organization->setText(user ? user->organization : QString());
    m_organization->setToolTip(m_organization->text());
    m_organization->setVisible(user.has_value());

    // After the server refused the session only a sign-in helps.
    m_syncNowButton->setEnabled(m_appState.syncStatus().kind != SyncStatus::Kind::syncing
                                && !m_appState.sessionRejected());
    const bool paused = m_appState.isPaused();
    m_pauseButton->setText(paused ? tr("Resume Syncing") : tr("Pause Syncing"));
    m_pauseButton->setIcon(symbols::icon(paused ? QStringLiteral("play.circle.fill") : QStringLiteral("pause.circle.fill"),
                                         palette().color(QPalette::ButtonText)));
    adjustSize();
    if (QWidget *window = this->window(); window != this)
        window->adjustSize();
}

void MenuBarView::syncNow()
{
    // Not awaited: the pass reports its progress and outcome through the
    // status, and ends its own failures.
    if (m_syncEngine)
        m_syncEngine->syncNow();
}
