#include "ui/SyncStatusView.h"

#include "state/AppState.h"
#include "ui/ElidedLabel.h"
#include "ui/RelativeTime.h"
#include "ui/Symbols.h"
#include "ui/ViewStyle.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

using viewstyle::TextStyle;

namespace {

constexpr int rowSpacing = 6;
constexpr int ageRefreshMs = 15000;

// The 8 by 8 filled circle of the status line.
class StatusDot : public QWidget {
public:
    StatusDot(const QColor &color, QWidget *parent) : QWidget(parent), m_color(color)
    {
        setFixedSize(8, 8);
    }
    QColor color() const { return m_color; }

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

QColor dotColor(const SyncStatus &status)
{
    switch (status.kind) {
    case SyncStatus::Kind::idle: return symbols::green();
    case SyncStatus::Kind::syncing: return symbols::blue();
    case SyncStatus::Kind::error: return symbols::red();
    }
    return symbols::green();
}

QHBoxLayout *rowLayout(QWidget *row)
{
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(rowSpacing);
    layout->setAlignment(Qt::AlignVCenter);
    return layout;
}

} // namespace

SyncStatusView::SyncStatusView(AppState &appState, QWidget *parent)
    : QWidget(parent)
    , m_appState(appState)
    , m_layout(new QVBoxLayout(this))
{
    m_layout->setContentsMargins(12, 8, 12, 8);
    m_layout->setSpacing(8);
    m_ageTimer.setInterval(ageRefreshMs);
    connect(&m_ageTimer, &QTimer::timeout, this, &SyncStatusView::refreshAges);
    connect(&appState, &AppState::syncStatusChanged, this, &SyncStatusView::rebuild);
    connect(&appState, &AppState::watchedFoldersChanged, this, &SyncStatusView::rebuild);
    connect(&appState, &AppState::recentFilesChanged, this, &SyncStatusView::rebuild);
    rebuild();
}

void SyncStatusView::rebuild()
{
    while (QLayoutItem *item = m_layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_ageLabels.clear();

    m_layout->addWidget(statusLine());

    const QStringList folders = m_appState.watchedFolders();
    if (!folders.isEmpty()) {
        m_layout->addWidget(viewstyle::divider(this));
        for (const QString &folder : folders)
            m_layout->addWidget(folderRow(folder));
    }

    const QList<RecentFile> recent = m_appState.recentFiles();
    if (!recent.isEmpty()) {
        m_layout->addWidget(viewstyle::divider(this));
        auto *heading = viewstyle::label(QStringLiteral("Recent"), TextStyle::caption2, symbols::secondary(), this);
        heading->setObjectName(QStringLiteral("recentHeading"));
        m_layout->addWidget(heading);
        for (qsizetype i = 0; i < recent.size() && i < shownRecentFiles; ++i)
            m_layout->addWidget(recentRow(recent[i]));
    }
    refreshAges();
}

QWidget *SyncStatusView::statusLine()
{
    auto *line = new QWidget(this);
    line->setObjectName(QStringLiteral("statusLine"));
    auto *layout = rowLayout(line);
    auto *dot = new StatusDot(dotColor(m_appState.syncStatus()), line);
    dot->setObjectName(QStringLiteral("statusDot"));
    dot->setProperty("tint", dot->color().name());
    layout->addWidget(dot);
    auto *text = new ElidedLabel(m_appState.statusText(), line);
    text->setFont(viewstyle::font(TextStyle::subheadline, true));
    text->setObjectName(QStringLiteral("statusText"));
    layout->addWidget(text, 1);
    return line;
}

QWidget *SyncStatusView::folderRow(const QString &folderPath)
{
    auto *row = new QWidget(this);
    row->setObjectName(QStringLiteral("folderRow"));
    row->setToolTip(folderPath);
    auto *layout = rowLayout(row);
    layout->addWidget(viewstyle::symbolLabel(QStringLiteral("folder.fill"), symbols::secondary(), 12, row));
    auto *name = new ElidedLabel(QFileInfo(folderPath).fileName(), row);
    name->setFont(viewstyle::font(TextStyle::caption));
    name->setObjectName(QStringLiteral("folderName"));
    layout->addWidget(name, 1);
    return row;
}

QWidget *SyncStatusView::recentRow(const RecentFile &entry)
{
    auto *row = new QWidget(this);
    row->setObjectName(QStringLiteral("recentRow"));
    row->setProperty("entryId", entry.id.toString());
    auto *layout = rowLayout(row);
    auto *symbol = viewstyle::symbolLabel(symbols::actionName(entry.action), symbols::actionColor(entry.action), 12, row);
    symbol->setProperty("tint", symbols::actionColor(entry.action).name());
    layout->addWidget(symbol);
    auto *name = new ElidedLabel(entry.name, row);
    name->setFont(viewstyle::font(TextStyle::caption));
    name->setObjectName(QStringLiteral("recentName"));
    layout->addWidget(name, 1);
    auto *age = viewstyle::label(QString(), TextStyle::caption2, symbols::secondary(), row);
    age->setObjectName(QStringLiteral("recentAge"));
    layout->addWidget(age);
    m_ageLabels.append({age, entry.timestamp});
    return row;
}

void SyncStatusView::refreshAges()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const auto &[label, timestamp] : m_ageLabels) {
        if (label)
            label->setText(relativeTimeText(timestamp, now));
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
