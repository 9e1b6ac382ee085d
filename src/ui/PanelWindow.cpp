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
    : QWidget(nullptr, mode == Mode::popup ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window)
    , m_content(content)
    , m_mode(mode)
{
    setWindowTitle(QStringLiteral("TavrelSync"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(content);
    if (mode == Mode::popup) {
        setAttribute(Qt::WA_StyledBackground);
        setObjectName(QStringLiteral("panelWindow"));
        setStyleSheet(QStringLiteral("#panelWindow { border: 1px solid rgba(0, 0, 0, 60); }"));
        layout->setContentsMargins(1, 1, 1, 1);
    }
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
