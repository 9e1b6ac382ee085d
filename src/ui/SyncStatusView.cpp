#include "ui/SyncStatusView.h"

#include "state/AppState.h"
#include "ui/ActionRow.h"
#include "ui/ElidedLabel.h"
#include "ui/OpenLocation.h"
#include "ui/RelativeTime.h"
#include "ui/RowButton.h"
#include "ui/StatusSummary.h"
#include "ui/Symbols.h"
#include "ui/ViewStyle.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

using viewstyle::TextStyle;

namespace {

constexpr int ageRefreshMs = 1000;
constexpr qint64 redrawIntervalMs = 250;
constexpr int symbolSize = 12;

QString folderName(const QString &folderPath) { return QFileInfo(folderPath).fileName(); }

// A vertical block of its own, so that it can be shown, hidden or refilled
// as one child of the view's stack.
QWidget *block(const char *name, QWidget *parent)
{
    auto *widget = new QWidget(parent);
    widget->setObjectName(QLatin1String(name));
    auto *layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    return widget;
}

void clearLayout(QLayout *layout)
{
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
}

void setSymbol(QLabel *label, const QString &name, const QColor &color)
{
    label->setPixmap(symbols::pixmap(name, color, symbolSize, label->devicePixelRatioF()));
    label->setObjectName(name);
    label->setProperty("tint", color.name());
}

} // namespace

// The 8 by 8 filled circle of the status line.
class StatusDot : public QWidget {
public:
    explicit StatusDot(QWidget *parent) : QWidget(parent) { setFixedSize(8, 8); }
    void setColor(const QColor &color)
    {
        if (color == m_color)
            return;
        m_color = color;
        setProperty("tint", color.name());
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_color);
        painter.drawEllipse(rect());
    }

private:
    QColor m_color;
};

SyncStatusView::SyncStatusView(AppState &appState, QWidget *parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(12, 8, 12, 8);
    m_layout->setSpacing(8);
    buildStatusBlock();
    m_questions = block("removalQuestions", this);
    m_layout->addWidget(m_questions);
    m_folders = block("folders", this);
    m_layout->addWidget(m_folders);
    buildRecentBlock();

    m_ageTimer.setInterval(ageRefreshMs);
    connect(&m_ageTimer, &QTimer::timeout, this, &SyncStatusView::refreshAges);
    m_redrawTimer.setSingleShot(true);
    connect(&m_redrawTimer, &QTimer::timeout, this, &SyncStatusView::redrawStale);
    connect(&appState, &AppState::syncProgressChanged, this, [this] { redrawSoon(true, false); });
    connect(&appState, &AppState::recentFilesChanged, this, [this] { redrawSoon(false, true); });
    for (auto signal : {&AppState::isLoggedInChanged, &AppState::syncStatusChanged, &AppState::isPausedChanged, &AppState::lastSyncTimeChanged, &AppState::nextSyncTimeChanged,
                        &AppState::notSyncedFilesChanged, &AppState::removalQuestionsChanged,
                        &AppState::sessionRejectedChanged, &AppState::isOfflineChanged})
        connect(&appState, signal, this, &SyncStatusView::refreshStatus);
    connect(&appState, &AppState::watchedFoldersChanged, this, [this] {
        refreshStatus();
        rebuildFolders();
    });
    connect(&appState, &AppState::foldersNeedingChoiceChanged, this, &SyncStatusView::rebuildFolders);
    connect(&appState, &AppState::notSyncedFilesChanged, this, &SyncStatusView::refreshNotSynced);
    connect(&appState, &AppState::removalQuestionsChanged, this, &SyncStatusView::rebuildQuestions);

    refreshStatus();
    refreshNotSynced();
    rebuildQuestions();
    rebuildFolders();
    refreshRecent();
}

void SyncStatusView::buildStatusBlock()
{
    auto *line = new QWidget(this);
    line->setObjectName(QStringLiteral("statusLine"));
    auto *lineLayout = new QHBoxLayout(line);
    lineLayout->setContentsMargins(0, 0, 0, 0);
    lineLayout->setSpacing(6);
    m_dot = new StatusDot(line);
    m_dot->setObjectName(QStringLiteral("statusDot"));
    lineLayout->addWidget(m_dot, 0, Qt::AlignVCenter);
    // Wrapped, not cut: an error's text is the one thing the user needs.
    m_title = new QLabel(line);
    m_title->setObjectName(QStringLiteral("statusText"));
    m_title->setFont(viewstyle::font(TextStyle::subheadline, true));
    m_title->setWordWrap(true);
    lineLayout->addWidget(m_title, 1);
    m_layout->addWidget(line);

    m_detail = new ElidedLabel(QString(), this);
    m_detail->setObjectName(QStringLiteral("statusDetail"));
    m_detail->setFont(viewstyle::font(TextStyle::caption));
    viewstyle::setColor(m_detail, symbols::secondary());
    m_layout->addWidget(m_detail);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("syncProgress"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 1000);
    m_progress->setFixedHeight(6);
    m_layout->addWidget(m_progress);

    m_addFolder = new QPushButton(tr("Add Folder..."), this);
    m_addFolder->setObjectName(QStringLiteral("addFolderButton"));
    makeProminent(m_addFolder, true);
    connect(m_addFolder, &QPushButton::clicked, this, &SyncStatusView::addFolderRequested);
    m_layout->addWidget(m_addFolder, 0, Qt::AlignLeft);

    m_signInAgain = new QPushButton(tr("Sign In..."), this);
    m_signInAgain->setObjectName(QStringLiteral("signInAgainButton"));
    makeProminent(m_signInAgain, true);
    connect(m_signInAgain, &QPushButton::clicked, this, &SyncStatusView::signInRequested);
    m_layout->addWidget(m_signInAgain, 0, Qt::AlignLeft);

    m_notSynced = new RowButton(this);
    m_notSynced->setObjectName(QStringLiteral("notSyncedButton"));
    auto *warning = new QLabel(m_notSynced);
    warning->setFixedSize(symbolSize, symbolSize);
    setSymbol(warning, QStringLiteral("exclamationmark.triangle.fill"), symbols::orange());
    m_notSynced->rowLayout()->addWidget(warning);
    m_notSyncedText = viewstyle::label(QString(), TextStyle::caption, QColor(), m_notSynced);
    m_notSynced->rowLayout()->addWidget(m_notSyncedText, 1);
    connect(m_notSynced, &RowButton::clicked, this, &SyncStatusView::notSyncedRequested);
    m_layout->addWidget(m_notSynced);
}

void SyncStatusView::buildRecentBlock()
{
    m_recent = block("recent", this);
    auto *layout = m_recent->layout();
    layout->addWidget(viewstyle::divider(m_recent));
    auto *heading = viewstyle::label(tr("Recent"), TextStyle::caption2, symbols::secondary(), m_recent);
    heading->setObjectName(QStringLiteral("recentHeading"));
    layout->addWidget(heading);
    for (int i = 0; i < shownRecentFiles; ++i) {
        RecentRow entry{};
        entry.row = new RowButton(m_recent);
        entry.row->setObjectName(QStringLiteral("recentRow"));
        entry.symbol = new QLabel(entry.row);
        entry.symbol->setFixedSize(symbolSize, symbolSize);
        entry.row->rowLayout()->addWidget(entry.symbol);
        entry.name = new ElidedLabel(QString(), entry.row);
        entry.name->setObjectName(QStringLiteral("recentName"));
        entry.name->setFont(viewstyle::font(TextStyle::caption));
        entry.row->rowLayout()->addWidget(entry.name, 1);
        entry.age = viewstyle::label(QString(), TextStyle::caption2, symbols::secondary(), entry.row);
        entry.age->setObjectName(QStringLiteral("recentAge"));
        entry.row->rowLayout()->addWidget(entry.age);
        connect(entry.row, &RowButton::clicked, this, [this, i] {
            openLocation(locationToOpen(m_recentRows[i].path));
        });
        layout->addWidget(entry.row);
        m_recentRows.append(entry);
    }
    m_layout->addWidget(m_recent);
}

void SyncStatusView::refreshStatus()
{
    const StatusSummary summary = summarizeStatus(m_appState);
    m_dot->setColor(summary.color);
    m_title->setText(summary.title);
    m_detail->setText(summary.detail);
    m_detail->setToolTip(summary.detail);
    m_detail->setVisible(!summary.detail.isEmpty());

    const SyncProgress progress = m_appState.syncProgress();
    const bool showProgress = summary.face == StatusSummary::Face::syncing && progress.filesTotal > 0;
    if (showProgress) {
        // By bytes when the planned transfers have sizes, else by files.
        const double fraction = progress.bytesTotal > 0 ? double(progress.bytesDone) / double(progress.bytesTotal)
                                                        : double(progress.filesDone) / double(progress.filesTotal);
        m_progress->setValue(qBound(0, int(fraction * 1000), 1000));
    }
    m_progress->setVisible(showProgress);
    m_addFolder->setVisible(summary.face == StatusSummary::Face::noFolders);
    m_signInAgain->setVisible(summary.face == StatusSummary::Face::signInAgain);
}

void SyncStatusView::refreshNotSynced()
{
    const qsizetype count = m_appState.notSyncedFiles().size();
    m_notSyncedText->setText(tr("%Ln file(s) not synced", nullptr, int(count)));
    m_notSynced->setVisible(count > 0);
}

void SyncStatusView::rebuildQuestions()
{
    QLayout *layout = m_questions->layout();
    clearLayout(layout);
    const QList<RemovalQuestion> questions = m_appState.removalQuestions();
    for (const RemovalQuestion &question : questions) {
        auto *box = new QWidget(m_questions);
        box->setObjectName(QStringLiteral("removalQuestion"));
        box->setProperty("folder", question.folder);
        auto *boxLayout = new QVBoxLayout(box);
        boxLayout->setContentsMargins(0, 0, 0, 0);
        boxLayout->setSpacing(6);
        auto *text = new QLabel(
            tr("%Ln file(s) were removed from %1. Remove them from the server too?", nullptr, question.count)
                .arg(folderName(question.folder)),
            box);
        text->setObjectName(QStringLiteral("removalText"));
        text->setWordWrap(true);
        text->setFont(viewstyle::font(TextStyle::caption));
        text->setToolTip(question.folder);
        boxLayout->addWidget(text);

        auto *buttons = new QHBoxLayout;
        buttons->setSpacing(6);
        auto *remove = new QPushButton(tr("Remove"), box);
        remove->setObjectName(QStringLiteral("removeButton"));
        makeDestructive(remove, true);
        auto *restore = new QPushButton(tr("Restore"), box);
        restore->setObjectName(QStringLiteral("restoreButton"));
        makeProminent(restore, true);
        for (auto [button, answer] : {std::pair{remove, true}, std::pair{restore, false}}) {
            // One answer per question: the buttons stay off until the
            // engine takes the question away.
            connect(button, &QPushButton::clicked, this, [this, remove, restore, folder = question.folder, answer] {
                remove->setEnabled(false);
                restore->setEnabled(false);
                emit removalAnswered(folder, answer);
            });
        }
        buttons->addWidget(restore);
        buttons->addWidget(remove);
        buttons->addStretch(1);
        boxLayout->addLayout(buttons);
        layout->addWidget(box);
    }
    m_questions->setVisible(!questions.isEmpty());
}

void SyncStatusView::rebuildFolders()
{
    QLayout *layout = m_folders->layout();
    clearLayout(layout);
    const QStringList folders = m_appState.watchedFolders();
    const QStringList needingChoice = m_appState.foldersNeedingChoice();
    layout->addWidget(viewstyle::divider(m_folders));
    for (const QString &folder : folders) {
        auto *row = new RowButton(m_folders);
        row->setObjectName(QStringLiteral("folderRow"));
        row->setProperty("folderPath", folder);
        auto *symbol = new QLabel(row);
        symbol->setFixedSize(symbolSize, symbolSize);
        row->rowLayout()->addWidget(symbol);
        auto *name = new ElidedLabel(folderName(folder), row);
        name->setFont(viewstyle::font(TextStyle::caption));
        name->setObjectName(QStringLiteral("folderName"));
        row->rowLayout()->addWidget(name, 1);
        if (needingChoice.contains(folder)) {
            // Missing or replaced: not synced until chosen again, which is
            // done in the settings.
            setSymbol(symbol, QStringLiteral("exclamationmark.triangle.fill"), symbols::orange());
            row->setToolTip(folder + QLatin1Char('\n') + tr("Not synced: choose this folder again in the settings"));
            connect(row, &RowButton::clicked, this, &SyncStatusView::settingsRequested);
        } else {
            setSymbol(symbol, QStringLiteral("folder.fill"), symbols::secondary());
            row->setToolTip(folder);
            connect(row, &RowButton::clicked, this, [folder] { openLocation(folder); });
        }
        layout->addWidget(row);
    }
    m_folders->setVisible(!folders.isEmpty());
}

void SyncStatusView::refreshRecent()
{
    const QList<RecentFile> recent = m_appState.recentFiles();
    for (int i = 0; i < m_recentRows.size(); ++i) {
        RecentRow &entry = m_recentRows[i];
        const bool used = i < recent.size();
        entry.row->setVisible(used);
        if (!used)
            continue;
        const RecentFile &file = recent[i];
        entry.row->setProperty("entryId", file.id.toString());
        if (entry.action != file.action || entry.symbol->pixmap().isNull()) {
            setSymbol(entry.symbol, symbols::actionName(file.action), symbols::actionColor(file.action));
            entry.action = file.action;
        }
        entry.name->setText(file.name);
        entry.row->setToolTip(file.path.isEmpty() ? file.name : file.path);
        entry.row->setCursor(file.path.isEmpty() ? Qt::ArrowCursor : Qt::PointingHandCursor);
        entry.timestamp = file.timestamp;
        entry.path = file.path;
    }
    m_recent->setVisible(!recent.isEmpty());
    refreshAges();
}

void SyncStatusView::refreshAges()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const RecentRow &entry : std::as_const(m_recentRows))
        if (entry.row->isVisibleTo(this))
            entry.age->setText(relativeTimeText(entry.timestamp, now));
    const QString detail = summarizeStatus(m_appState, now).detail;
    if (detail != m_detail->text()) {
        m_detail->setText(detail);
        m_detail->setToolTip(detail);
    }
}

void SyncStatusView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshAges();
    m_ageTimer.start();
}

void SyncStatusView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_ageTimer.stop();
}

void SyncStatusView::redrawSoon(bool status, bool recent)
{
    m_statusStale = m_statusStale || status;
    m_recentStale = m_recentStale || recent;
    if (m_redrawTimer.isActive())
        return;
    const qint64 sinceLast = m_lastRedraw.isValid() ? m_lastRedraw.elapsed() : redrawIntervalMs;
    if (sinceLast >= redrawIntervalMs)
        redrawStale();
    else
        m_redrawTimer.start(int(redrawIntervalMs - sinceLast));
}

void SyncStatusView::redrawStale()
{
    m_lastRedraw.start();
    if (std::exchange(m_statusStale, false))
        refreshStatus();
    if (std::exchange(m_recentStale, false))
        refreshRecent();
}
