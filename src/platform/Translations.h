#pragma once

#include <QLocale>

// The texts of the program in the desktop's language: the program's own
// translation for `locale` (built in under ":/i18n") and Qt's own for its
// standard buttons and dialogs (qtbase_<lang>.qm from Qt's translations
// folder), over the English plural forms ("1 file", "2 files") that every
// language falls back on. Calling it again replaces what an earlier call
// installed. Needs a QCoreApplication.
//
// main() passes QLocale::system(), which follows LANGUAGE, LC_ALL, LC_MESSAGES
// and LANG; a language without a translation reads in English.
void installTranslations(const QLocale &locale);
