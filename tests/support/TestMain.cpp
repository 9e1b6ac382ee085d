// Test entry point: a real QApplication (offscreen platform) so that tests
// run the real event loop, timers, sockets and widgets.
#include "platform/Translations.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    // No test reaches the session bus of the person running the tests (and
    // so their keyring): secrets go to the preferences file in a private
    // home, unless a test starts a private bus of its own.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tavrelsync-tests/bus");
    testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    // The English texts the tests compare, whatever the machine's language.
    installTranslations(QLocale(QLocale::English));
    return RUN_ALL_TESTS();
}
