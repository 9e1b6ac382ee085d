#include "ui/Symbols.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

static void initTavrelResources() { Q_INIT_RESOURCE(tavrelsync); }

namespace symbols {

namespace {

// Registers the bundled resources of the static UI library, once.
void initResources()
{
    static const bool registered = [] {
        initTavrelResources();
        return true;
    }();
    Q_UNUSED(registered);
}

QByteArray svgSource(const QString &name)
{
    initResources();
    QFile file(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The symbol drawn in `color` instead of its placeholder black.
QByteArray tintedSource(const QString &name, const QColor &color)
{
    QByteArray svg = svgSource(name);
    svg.replace("#000000", color.name(QColor::HexRgb).toLatin1());
    return svg;
}

QPixmap render(const QByteArray &svg, int size, qreal devicePixelRatio)
{
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(svg);
    if (renderer.isValid()) {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    }
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

// A tinted symbol whose inner marks (drawn white in its source) are cut out
// of it rather than painted white: a pause sign stays a pause sign in any
// tint, also white on a dark panel.
QPixmap renderTinted(const QString &name, const QColor &color, int size, qreal devicePixelRatio)
{
    QByteArray marks = svgSource(name);
    if (!marks.contains("#ffffff"))
        return render(tintedSource(name, color), size, devicePixelRatio);
    QByteArray body = tintedSource(name, color);
    body.replace("#ffffff", color.name(QColor::HexRgb).toLatin1());
    marks.replace("#000000", "none");
    marks.replace("#ffffff", "#000000");
    QPixmap pixmap = render(body, size, devicePixelRatio);
    const QPixmap holes = render(marks, size, devicePixelRatio);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_DestinationOut);
    painter.drawPixmap(0, 0, holes);
    return pixmap;
}

} // namespace

QPixmap pixmap(const QString &name, const QColor &color, int size, qreal devicePixelRatio)
{
    return renderTinted(name, color, size, devicePixelRatio);
}

QIcon icon(const QString &name, const QColor &color)
{
    QIcon result;
    for (int size : {16, 22, 24, 32, 48, 64})
        result.addPixmap(renderTinted(name, color, size, 1.0));
    return result;
}

QIcon appIcon()
{
    QIcon result;
    for (int size : {16, 22, 32, 48, 64, 128, 256})
        result.addPixmap(appPixmap(size));
    return result;
}

QPixmap appPixmap(int size, qreal devicePixelRatio)
{
    return render(svgSource(QStringLiteral("tavrelsync")), size, devicePixelRatio);
}

QString trayName(const SyncStatus &status)
{
    switch (status.kind) {
    case SyncStatus::Kind::idle: return QStringLiteral("checkmark.circle.fill");
    case SyncStatus::Kind::syncing: return QStringLiteral("arrow.triangle.2.circlepath");
    case SyncStatus::Kind::error: return QStringLiteral("exclamationmark.triangle.fill");
    }
    return QStringLiteral("checkmark.circle.fill");
}

QColor trayColor(const SyncStatus &status)
{
    switch (status.kind) {
    case SyncStatus::Kind::idle: return green();
    case SyncStatus::Kind::syncing: return blue();
    case SyncStatus::Kind::error: return orange();
    }
    return green();
}

QString actionName(const QString &action)
{
    if (action == QLatin1String("uploaded"))
        return QStringLiteral("arrow.up.circle.fill");
    if (action == QLatin1String("downloaded"))
        return QStringLiteral("arrow.down.circle.fill");
    return QStringLiteral("arrow.triangle.2.circlepath");
}

QColor actionColor(const QString &action)
{
    if (action == QLatin1String("uploaded"))
        return blue();
    if (action == QLatin1String("downloaded"))
        return green();
    return orange();
}

QColor blue() { return QColor(0x0A, 0x84, 0xFF); }
QColor green() { return QColor(0x30, 0xB0, 0x50); }
QColor orange() { return QColor(0xF5, 0x8A, 0x07); }
QColor red() { return QColor(0xE0, 0x32, 0x2B); }
QColor secondary() { return QColor(0x7A, 0x7A, 0x80); }

} // namespace symbols
