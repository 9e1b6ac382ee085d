#include "ui/Spinner.h"

#include <QPainter>

Spinner::Spinner(int size, const QColor &color, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    setFixedSize(size, size);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer.setInterval(50);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 30) % 360;
        update();
    });
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = qMax(1.5, width() / 8.0);
    QPen arcPen(m_color, pen, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(arcPen);
    const QRectF area = QRectF(rect()).adjusted(pen, pen, -pen, -pen);
    painter.drawArc(area, -m_angle * 16, 270 * 16);
}

void Spinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_timer.start();
}

void Spinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_timer.stop();
}
