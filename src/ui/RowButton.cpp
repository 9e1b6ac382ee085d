#include "ui/RowButton.h"

#include <QHBoxLayout>
#include <QPainter>

RowButton::RowButton(QWidget *parent)
    : QAbstractButton(parent)
    , m_layout(new QHBoxLayout(this))
{
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(6);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize RowButton::sizeHint() const { return m_layout->sizeHint(); }

QSize RowButton::minimumSizeHint() const { return m_layout->minimumSize(); }

void RowButton::paintEvent(QPaintEvent *)
{
    if (!isEnabled() || !(underMouse() || isDown() || hasFocus()))
        return;
    // A light wash of the text colour, so it shows on light and dark palettes.
    QColor wash = palette().color(QPalette::WindowText);
    wash.setAlpha(isDown() ? 40 : 22);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(wash);
    painter.drawRoundedRect(rect(), 4, 4);
}
