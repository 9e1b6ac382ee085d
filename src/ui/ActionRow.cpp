#include "ui/ActionRow.h"

#include "ui/Symbols.h"
#include "ui/ViewStyle.h"

ActionRow::ActionRow(const QString &symbol, const QString &title, QWidget *parent)
    : QPushButton(title, parent)
{
    setIcon(symbols::icon(symbol, palette().color(QPalette::ButtonText)));
    setIconSize(QSize(14, 14));
    setFont(viewstyle::font(viewstyle::TextStyle::body));
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFlat(true);
    setStyleSheet(QStringLiteral(
        "QPushButton { text-align: left; padding: 6px 12px; border: none; background: transparent; }"
        // Palette roles, not fixed tints, so the rows stay legible with a
        // dark palette; a disabled row takes the palette's disabled text.
        "QPushButton:hover { background: palette(midlight); }"
        "QPushButton:pressed { background: palette(mid); }"));
}

void makeProminent(QPushButton *button, bool small)
{
    const QString accent = symbols::blue().name();
    const QString pressed = symbols::blue().darker(120).name();
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: %1; border: none; border-radius: 5px; padding: %2; }"
        "QPushButton:pressed { background: %3; }"
        "QPushButton:disabled { background: rgba(10, 132, 255, 90); }")
                              .arg(accent, small ? QStringLiteral("3px 10px") : QStringLiteral("6px 12px"), pressed));
    if (small)
        button->setFont(viewstyle::font(viewstyle::TextStyle::caption));
}

void makeDestructive(QPushButton *button, bool small)
{
    const QString red = symbols::red().name();
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: %1; background: transparent; border: 1px solid %1; border-radius: 5px; padding: %2; }"
        "QPushButton:pressed { background: rgba(224, 50, 43, 40); }"
        "QPushButton:disabled { color: rgba(224, 50, 43, 110); border-color: rgba(224, 50, 43, 110); }")
                              .arg(red, small ? QStringLiteral("2px 9px") : QStringLiteral("5px 11px")));
    if (small)
        button->setFont(viewstyle::font(viewstyle::TextStyle::caption));
}
