#include "ui/PanelWindow.h"

#include "ui/MenuBarView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace {
constexpr int gap = 4;
constexpr int reopenGuardMs = 300;
} // namespace

PanelWindow::PanelWindow(MenuBarView *content, Mode mode)
    : QWidget(nullptr)
    , m_content(content)
{
    setWindowTitle(QStringLiteral("TavrelSync"));
    setObjectName(QStringLiteral("panelWindow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(content);
    setMode(mode);
}

void PanelWindow::setMode(Mode mode)
{
    const bool popup = mode == Mode::popup;
    // Changing the window flags hides the window; a panel open as a window
    // when the tray appears is closed, to be opened from the icon.
    setWindowFlags(popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window);
    setAttribute(Qt::WA_StyledBackground, popup);
    setStyleSheet(popup ? QStringLiteral("#panelWindow { border: 1px solid rgba(0, 0, 0, 60); }") : QString());
    layout()->setContentsMargins(popup ? QMargins(1, 1, 1, 1) : QMargins());
    m_mode = mode;
}

QPoint PanelWindow::placement(const QSize &size, const QRect &trayArea, const QRect &screenArea)
{
    // Centred under (or above, for a tray at the bottom) the icon.
    int x = trayArea.center().x() - size.width() / 2;
    const bool trayInUpperHalf = trayArea.center().y() < screenArea.center().y();
    int y = trayInUpperHalf ? trayArea.bottom() + 1 + gap : trayArea.top() - gap - size.height();
    x = qBound(screenArea.left(), x, qMax(screenArea.left(), screenArea.right() + 1 - size.width()));
    y = qBound(screenArea.top(), y, qMax(screenArea.top(), screenArea.bottom() + 1 - size.height()));
    return {x, y};
}

void PanelWindow::showBeside(const QRect &trayArea)
{
    adjustSize();
    const QRect anchor = trayArea.isValid() && !trayArea.isEmpty() ? trayArea : QRect(QCursor::pos(), QSize(1, 1));
    QScreen *screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect screenArea = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), size());
    move(placement(size(), anchor, screenArea));
    show();
    raise();
    activateWindow();
}

bool PanelWindow::justClosed() const
{
    return m_sinceHidden.isValid() && m_sinceHidden.elapsed() < reopenGuardMs;
}

void PanelWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    emit appeared();
}

void PanelWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_sinceHidden.start();
}

void PanelWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}
