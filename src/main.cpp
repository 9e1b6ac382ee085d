#include "platform/LogFile.h"
#include "platform/Logging.h"
#include "platform/MemoryRelease.h"
#include "platform/TerminationSignals.h"
#include "platform/Translations.h"
#include "ui/ScreenshotMode.h"
#include "ui/SingleInstance.h"
#include "ui/Symbols.h"
#include "ui/TavrelSyncApp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <cstring>

int main(int argc, char *argv[])
{
    setUpHeap();
    // Answered before the application starts: it needs no display, so it
    // works over ssh and in packaging scripts.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("TavrelSync %s\n", TAVRELSYNC_VERSION);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    QApplication::setOrganizationDomain(QStringLiteral("tavrel.com"));
    QApplication::setApplicationName(QStringLiteral("TavrelSync"));
    QApplication::setApplicationVersion(QStringLiteral(TAVRELSYNC_VERSION));
    // The installed desktop entry's name, without ".desktop".
    QApplication::setDesktopFileName(QLatin1String(kAppIdentifier));
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-category}%{category} %{endif}%{type}: %{message}"));
    // Every window of the application shows it.
    QApplication::setWindowIcon(symbols::appIcon());
    // The desktop's language, before any text is made.
    installTranslations(QLocale::system());

    // The documentation's pictures are made with the options below.
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Keeps your folders in step with the Tavrel document service."));
    QCommandLineOption screenshots(QStringLiteral("screenshots"), QString(), QStringLiteral("dir"));
    screenshots.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption server(QStringLiteral("server"), QString(), QStringLiteral("url"));
    server.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({screenshots, server});
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
    if (parser.isSet(screenshots))
        return runScreenshotMode(parser.value(screenshots), parser.value(server));

    SingleInstance instance;
    if (instance.handOverToRunning()) {
        std::printf("%s\n", qUtf8Printable(QCoreApplication::translate(
                                 "main", "TavrelSync is already running; its panel was brought forward.")));
        return 0;
    }
    // Only the running copy writes the log file.
    LogFile::install();
    qCInfo(lcApp).noquote() << "TavrelSync" << QApplication::applicationVersion() << "starting";
    qCInfo(lcApp).noquote() << "Language:" << QLocale::system().uiLanguages().join(QLatin1Char(' '));
    instance.listen();

    // The end of the session (SIGTERM at logout) ends the program as "Quit"
    // does: the event loop returns, the shell writes the state.
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::terminationRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);

    TavrelSyncApp shell;
    QObject::connect(&instance, &SingleInstance::showRequested, &shell, &TavrelSyncApp::showPanel);
    shell.launch();
    QApplication::exec();
    LogFile::uninstall();
    return 0;
}
