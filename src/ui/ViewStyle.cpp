#include "ui/ViewStyle.h"

#include "ui/Symbols.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>

namespace viewstyle {

namespace {

class Divider : public QFrame {
public:
    explicit Divider(QWidget *parent) : QFrame(parent)
    {
        setObjectName(QStringLiteral("divider"));
        // Still a horizontal line to whoever asks; the drawing is our own.
        setFrameShape(QFrame::HLine);
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QColor line = palette().color(QPalette::WindowText);
        line.setAlphaF(0.2f);
        QPainter(this).fillRect(rect(), line);
    }
};

} // namespace

QFont font(TextStyle style, bool bold)
{
    QFont result = QApplication::font();
    double scale = 1.0;
    switch (style) {
    case TextStyle::title2: scale = 1.5; break;
    case TextStyle::headline: scale = 1.08; bold = true; break;
    case TextStyle::body: scale = 1.0; break;
    case TextStyle::subheadline: scale = 0.92; break;
    case TextStyle::caption: scale = 0.85; break;
    case TextStyle::caption2: scale = 0.77; break;
    }
    if (result.pointSizeF() > 0)
        result.setPointSizeF(result.pointSizeF() * scale);
    else if (result.pixelSize() > 0)
        result.setPixelSize(qMax(1, qRound(result.pixelSize() * scale)));
    result.setBold(bold);
    return result;
}

void setSecondary(QWidget *widget)
{
    widget->setForegroundRole(QPalette::PlaceholderText);
}

void setColor(QLabel *label, const QColor &color)
{
    if (color == symbols::secondary()) {
        setSecondary(label);
        return;
    }
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QLabel *label(const QString &text, TextStyle style, const QColor &color, QWidget *parent)
{
    auto *result = new QLabel(text, parent);
    result->setFont(font(style));
    if (color.isValid())
        setColor(result, color);
    return result;
}

QFrame *divider(QWidget *parent)
{
    return new Divider(parent);
}

QLabel *symbolLabel(const QString &name, const QColor &color, int size, QWidget *parent)
{
    auto *result = new QLabel(parent);
    result->setPixmap(symbols::pixmap(name, color, size, result->devicePixelRatioF()));
    result->setFixedSize(size, size);
    result->setObjectName(name);
    return result;
}

} // namespace viewstyle
