#include "ui/ViewStyle.h"

#include "ui/Symbols.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>

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

namespace {

double luminance(const QColor &color)
{
    auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor secondaryColor(const QPalette &palette)
{
    // Softer than the text, but never below 4.5:1 against the background
    // (WCAG AA), in light and dark palettes alike.
    const QColor text = palette.color(QPalette::WindowText);
    const QColor background = palette.color(QPalette::Window);
    for (double weight = 0.55; weight < 1.0; weight += 0.05) {
        const QColor mixed = QColor::fromRgbF(float(text.redF() * weight + background.redF() * (1 - weight)),
                                              float(text.greenF() * weight + background.greenF() * (1 - weight)),
                                              float(text.blueF() * weight + background.blueF() * (1 - weight)));
        if (contrastRatio(mixed, background) >= 4.5)
            return mixed;
    }
    return text;
}

namespace {

// Keeps a widget's secondary colour (its placeholder-text role, which it
// paints with) derived from its text and background, also when the palette
// changes later (a dark theme chosen while it runs).
class SecondaryTint : public QObject {
public:
    explicit SecondaryTint(QWidget *widget) : QObject(widget) { apply(widget); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::PaletteChange)
            apply(static_cast<QWidget *>(watched));
        return false;
    }

private:
    static void apply(QWidget *widget)
    {
        QPalette palette = widget->palette();
        const QColor color = secondaryColor(palette);
        if (palette.color(QPalette::PlaceholderText) == color)
            return; // also ends the change this very call causes
        palette.setColor(QPalette::PlaceholderText, color);
        widget->setPalette(palette);
    }
};

} // namespace

void setSecondary(QWidget *widget)
{
    widget->setForegroundRole(QPalette::PlaceholderText);
    if (!widget->findChild<SecondaryTint *>(QString(), Qt::FindDirectChildrenOnly))
        widget->installEventFilter(new SecondaryTint(widget));
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
