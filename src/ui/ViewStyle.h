#pragma once

#include <QColor>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QString>

// The few text styles and small building blocks the views share, so the
// panel, the sign-in window and the settings window look alike.
namespace viewstyle {

enum class TextStyle { title2, headline, body, subheadline, caption, caption2 };

QFont font(TextStyle style, bool bold = false);

// A label in a text style and, when valid, a colour.
QLabel *label(const QString &text, TextStyle style, const QColor &color = QColor(), QWidget *parent = nullptr);
void setColor(QLabel *label, const QColor &color);

// A thin horizontal line between blocks.
QFrame *divider(QWidget *parent = nullptr);

// A label holding a symbol pixmap of the given size.
QLabel *symbolLabel(const QString &name, const QColor &color, int size, QWidget *parent = nullptr);

} // namespace viewstyle
