#pragma once

#include "state/SyncStatus.h"

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// The bundled symbol icons. Each SVG is drawn in one placeholder colour
// (black) that is replaced by the colour asked for, so one file serves every
// tint the views need.
namespace symbols {

QPixmap pixmap(const QString &name, const QColor &color, int size, qreal devicePixelRatio = 1.0);
QIcon icon(const QString &name, const QColor &color);

// The application's own icon (full colour).
QIcon appIcon();
QPixmap appPixmap(int size, qreal devicePixelRatio = 1.0);

// The tray symbol for a status, and its tint.
QString trayName(const SyncStatus &status);
QColor trayColor(const SyncStatus &status);

// The symbol and tint of a recent transfer, by its action text.
QString actionName(const QString &action);
QColor actionColor(const QString &action);

// Colours shared by the views.
QColor blue();
QColor green();
QColor orange();
QColor red();
QColor secondary();

} // namespace symbols
