#include "platform/Logging.h"
#include "ui/ScreenshotMode.h"
#include "ui/SingleInstance.h"
#include "ui/Symbols.h"
#include "ui/TavrelSyncApp.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Tavrel"));
    QApplication::setOrganizationDomain(QStringLiteral("tavrel.com"));
    QApplication::setApplicationName(QStringLiteral("TavrelSync"));
    QApplication::setDesktopFileName(QStringLiteral("tavrelsync"));
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{if-category}%{category} %{endif}%{type}: %{message}"));
    // Every window of the application shows it.
    QApplication::setWindowIcon(symbols::appIcon());

    // The one option is for producing the documentation's pictures.
    QCommandLineParser parser;
    QCommandLineOption screenshots(QStringLiteral("screenshots"), QString(), QStringLiteral("dir"));
    screenshots.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineOption server(QStringLiteral("server"), QString(), QStringLiteral("url"));
    server.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({screenshots, server});
    parser.addHelpOption();
    parser.process(app);
    if (parser.isSet(screenshots))
        return runScreenshotMode(parser.value(screenshots), parser.value(server));

    SingleInstance instance;
    if (instance.handOverToRunning()) {
        qCInfo(lcApp) << "TavrelSync is already running; its panel was brought forward";
        return 0;
    }
    instance.listen();

    TavrelSyncApp shell;
    QObject::connect(&instance, &SingleInstance::showRequested, &shell, &TavrelSyncApp::showPanel);
    shell.launch();
    QApplication::exec();
    return 0;
}
