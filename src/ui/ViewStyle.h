#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QString>

// The few text styles and small building blocks the views share, so the
// panel, the sign-in window and the settings window look alike. Sizes are
// relative to the desktop's font, and colours come from the palette where
// they must contrast with the background, so a large font or a dark theme
// is followed.
namespace viewstyle {

enum class TextStyle { title2, headline, body, subheadline, caption, caption2 };

// The application's font (the desktop's) scaled for the style.
QFont font(TextStyle style, bool bold = false);

// A label in a text style and, when valid, a colour. The shared secondary
// grey is taken from the palette instead (see secondaryColor), which stays
// readable on light and dark backgrounds.
QLabel *label(const QString &text, TextStyle style, const QColor &color = QColor(), QWidget *parent = nullptr);
void setColor(QLabel *label, const QColor &color);
// Secondary text is the palette's text mixed towards its background, as far
// as a contrast of at least 4.5:1 allows.
void setSecondary(QWidget *widget);
QColor secondaryColor(const QPalette &palette);
double contrastRatio(const QColor &a, const QColor &b);

// A thin horizontal line between blocks, drawn in the palette's text colour
// at low opacity so it shows on light and dark backgrounds alike.
QFrame *divider(QWidget *parent = nullptr);

// A label holding a symbol pixmap of the given size.
QLabel *symbolLabel(const QString &name, const QColor &color, int size, QWidget *parent = nullptr);

} // namespace viewstyle
