#pragma once

#include <QString>

// Names that come from the server become file names on this machine only
// when they are one plain path component.
namespace ServerNames {

// False for "", ".", "..", and any name holding "/" or a NUL character:
// such a name could point outside the watched folder or at the folder itself.
bool isPlainFileName(const QString &name);

// The name as it can be shown in a log line (NUL characters made visible).
QString printable(const QString &name);

} // namespace ServerNames
