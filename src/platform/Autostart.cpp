#include "platform/Autostart.h"

#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// An Exec argument: quoted when it holds a character the desktop's command
// line would otherwise split or expand; '%' is doubled (field codes), and
// the backslashes of the quoting are escaped again for the string value.
QString execArgument(const QString &program)
{
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : program)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString argument;
    if (needsQuotes) {
        argument += QLatin1Char('"');
        for (const QChar c : program) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += c;
        }
        argument += QLatin1Char('"');
    } else {
        argument = program;
    }
    argument.replace(QLatin1Char('%'), QLatin1String("%%"));
    argument.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    return argument;
}

} // namespace

Autostart::Autostart(QString entryPath) : m_entryPath(std::move(entryPath)) {}

QString Autostart::defaultEntryPath()
{
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty() || !QDir::isAbsolutePath(configHome))
        configHome = QDir::homePath() + QStringLiteral("/.config");
    return configHome + QStringLiteral("/autostart/") + QLatin1String(kAppIdentifier) + QStringLiteral(".desktop");
}

bool Autostart::isEnabled() const
{
    QFile file(m_entryPath);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        if (file.readLine().trimmed() == "Hidden=true")
            return false;
    }
    return true;
}

QString Autostart::entryText(const QString &program)
{
    if (program.isEmpty() || program.contains(QLatin1Char('\n')) || program.contains(QLatin1Char('\r')))
        return {};
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=TavrelSync\n"
                          "Comment=Keep local folders in step with your Tavrel documents\n"
                          "Exec=%1\n"
                          "Icon=%2\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(program), QLatin1String(kAppIdentifier));
}

bool Autostart::setEnabled(bool enabled, const QString &program)
{
    if (!enabled) {
        if (!QFile::exists(m_entryPath) || QFile::remove(m_entryPath))
            return true;
        qCWarning(lcApp) << "Cannot remove the autostart entry" << m_entryPath;
        return false;
    }
    const QString text = entryText(program);
    if (text.isEmpty()) {
        qCWarning(lcApp) << "Cannot name" << program << "in an autostart entry";
        return false;
    }
    QDir().mkpath(QFileInfo(m_entryPath).absolutePath());
    QSaveFile file(m_entryPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        qCWarning(lcApp) << "Cannot write the autostart entry" << m_entryPath << ":" << file.errorString();
        return false;
    }
    return true;
}
