#include "state/NoticeTitles.h"

#include <QCoreApplication>

namespace noticetitles {

QString conflictCopyMade() { return QCoreApplication::translate("Notice", "Conflict copy made"); }
QString movedToTrash() { return QCoreApplication::translate("Notice", "Moved to the Trash"); }
QString fileKept() { return QCoreApplication::translate("Notice", "A file was kept"); }
QString filesRemoved() { return QCoreApplication::translate("Notice", "Files removed"); }

} // namespace noticetitles
