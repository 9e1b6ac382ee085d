#include "ui/ViewStyle.h"

#include "ui/Symbols.h"

#include <QPalette>

namespace viewstyle {

QFont font(TextStyle style, bool bold)
{
    QFont result;
    int pixels = 13;
    switch (style) {
    case TextStyle::title2: pixels = 20; break;
    case TextStyle::headline: pixels = 14; bold = true; break;
    case TextStyle::body: pixels = 13; break;
    case TextStyle::subheadline: pixels = 12; break;
    case TextStyle::caption: pixels = 11; break;
    case TextStyle::caption2: pixels = 10; break;
    }
    result.setPixelSize(pixels);
    result.setBold(bold);
    return result;
}

void setColor(QLabel *label, const QColor &color)
{
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
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 0, 40));
    line->setPalette(palette);
    return line;
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
