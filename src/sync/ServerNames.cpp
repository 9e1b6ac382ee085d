#include "sync/ServerNames.h"

namespace ServerNames {

bool isPlainFileName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    return !name.contains(QLatin1Char('/')) && !name.contains(QChar(u'\0'));
}

QString printable(const QString &name)
{
    QString shown = name;
    shown.replace(QChar(u'\0'), QStringLiteral("\\0"));
    return shown;
}

} // namespace ServerNames
