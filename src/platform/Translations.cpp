#include "platform/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QList>
#include <QTranslator>

#include <memory>

namespace {

// What the last call installed, removed by the next one.
QList<QTranslator *> &installed()
{
    static QList<QTranslator *> translators;
    return translators;
}

void installOne(const QLocale &locale, const QString &name, const QString &folder)
{
    auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
    // QTranslator tries each of the locale's UI languages in turn ("de_AT",
    // "de", ...), so a regional variant finds the language's file.
    if (!translator->load(locale, name, QStringLiteral("_"), folder))
        return;
    QCoreApplication::installTranslator(translator.get());
    installed().append(translator.release());
}

} // namespace

void installTranslations(const QLocale &locale)
{
    for (QTranslator *translator : std::as_const(installed())) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    installed().clear();

    // Translators installed later are asked first: the English plural forms
    // answer only what the language's own file does not.
    const QString builtIn = QStringLiteral(":/i18n");
    installOne(QLocale(QLocale::English), QStringLiteral("tavrelsync"), builtIn);
    installOne(locale, QStringLiteral("tavrelsync"), builtIn);
    installOne(locale, QStringLiteral("qtbase"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}
