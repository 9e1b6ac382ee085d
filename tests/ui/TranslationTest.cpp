// The program in the desktop's language: its own texts and Qt's standard
// buttons in German, English plural forms, and the language taken from the
// environment when the program starts.
#include "UiFixture.h"

#include "platform/Translations.h"
#include "ui/PanelWindow.h"
#include "ui/RelativeTime.h"

#include <QLocale>
#include <QMessageBox>
#include <QProcess>

namespace {

// The tests around these compare English texts: each test here puts the
// English translation and the C locale back, also when it fails.
class InLanguage {
public:
    explicit InLanguage(const QLocale &locale)
    {
        installTranslations(locale);
        QLocale::setDefault(locale);
    }
    ~InLanguage()
    {
        installTranslations(QLocale(QLocale::English));
        QLocale::setDefault(QLocale::c());
    }
};

QStringList labelTexts(const QWidget *widget)
{
    QStringList texts;
    for (const QLabel *label : widget->findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

QString buttonText(const QWidget *widget, const char *name)
{
    const auto *button = widget->findChild<QPushButton *>(name);
    return button ? button->text() : QStringLiteral("(no button %1)").arg(QLatin1String(name));
}

} // namespace

TEST_F(UiFixture, GermanPanelSignInWindowAndStandardButtons)
{
    const InLanguage german(QLocale(QLocale::German, QLocale::Germany));
    TavrelSyncApp &app = makeApp();
    app.launch();
    ASSERT_TRUE(app.panel()->isVisible());
    MenuBarView *panel = app.menuBarView();
    EXPECT_EQ(buttonText(panel, "signInButton"), "Anmelden …");
    EXPECT_TRUE(labelTexts(panel).contains("Melden Sie sich an, um mit der Synchronisierung zu beginnen"))
        << labelTexts(panel).join(" | ").toStdString();

    panel->findChild<QPushButton *>("signInButton")->click();
    LoginView *login = app.loginWindow();
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->windowTitle(), "Anmelden");
    EXPECT_EQ(buttonText(login, "signInButton"), "Anmelden");
    EXPECT_EQ(buttonText(login, "cancelButton"), "Abbrechen");
    EXPECT_TRUE(labelTexts(login).contains("&Passwort")) << labelTexts(login).join(" | ").toStdString();

    // Signed in, with files left out: the status and its plural forms.
    AppState &state = app.appState();
    state.setIsLoggedIn(true);
    state.addWatchedFolder(makeFolder("Berichte"));
    state.setSyncStatus(SyncStatus::syncing());
    state.setSyncProgress({1234, 3001, 45'000'000, 300'000'000});
    EXPECT_TRUE(testsupport::waitUntil(
        [&] { return labelTexts(panel).contains("Synchronisiere 1.234 von 3.001 Dateien · 45 von 300 MB"); },
        "the German progress in the panel"));
    EXPECT_EQ(buttonText(panel, "syncNowButton"), "Jetzt synchronisieren");

    // Qt's own buttons, as the settings' questions show them.
    QMessageBox box;
    EXPECT_EQ(box.addButton(QMessageBox::Cancel)->text(), "Abbrechen");
}

TEST(Translations, PluralFormsRegionsAndUntranslatedLanguages)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    {
        const InLanguage austrian(QLocale(QLocale::German, QLocale::Austria));
        EXPECT_EQ(relativeTimeText(now.addSecs(-60), now), "vor 1 Minute");
        EXPECT_EQ(relativeTimeText(now.addSecs(-120), now), "vor 2 Minuten");
        EXPECT_EQ(relativeTimeText(now.addDays(3), now), "in 3 Tagen");
    }
    // No French translation: English, with its own plural forms.
    const InLanguage french(QLocale(QLocale::French, QLocale::France));
    EXPECT_EQ(relativeTimeText(now.addSecs(-60), now), "1 minute ago");
    EXPECT_EQ(relativeTimeText(now.addSecs(-120), now), "2 minutes ago");
    EXPECT_EQ(relativeTimeText(now.addDays(3), now), "in 3 days");
}

// The program itself takes the language from the environment at start:
// its own description and Qt's help texts come in German.
TEST(Translations, ProgramFollowsTheDesktopLanguage)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("LANG", "de_DE.UTF-8");
    environment.insert("LC_ALL", "de_DE.UTF-8");
    environment.insert("LANGUAGE", "de");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(TAVRELSYNC_PROGRAM), {QStringLiteral("--help")});
    ASSERT_TRUE(program.waitForFinished(30000));
    const QString output = QString::fromUtf8(program.readAll());
    EXPECT_TRUE(output.contains("Hält Ihre Ordner mit dem Tavrel-Dokumentendienst auf demselben Stand."))
        << output.toStdString();
    EXPECT_TRUE(output.contains("Zeigt Hilfe zu den Kommandozeilenoptionen an.")) << output.toStdString();
}
