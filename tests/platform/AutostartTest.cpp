#include "platform/Autostart.h"

#include "support/TestSupport.h"

// The desktop reads Exec through two layers of escaping (string value, then
// command-line quoting); a program path with blanks, '%', '$', '"' or '\'
// must come out as the same single argument.
TEST(AutostartTest, ExecNamesAnyProgramPathAsOneArgument)
{
    auto execLine = [](const QString &program) {
        const QString text = Autostart::entryText(program);
        for (const QString &line : text.split('\n'))
            if (line.startsWith("Exec="))
                return line.mid(5);
        return QString();
    };
    EXPECT_EQ(execLine("/usr/bin/tavrelsync"), "/usr/bin/tavrelsync");
    EXPECT_EQ(execLine("/opt/My Apps/tavrel%sync"), R"("/opt/My Apps/tavrel%%sync")");
    EXPECT_EQ(execLine(R"(/home/a"b/$HOME/c\d)"), R"("/home/a\\"b/\\$HOME/c\\\\d")");
    EXPECT_TRUE(Autostart::entryText("/tmp/evil\nExec=rm -rf ~").isEmpty());
    EXPECT_TRUE(Autostart::entryText("").isEmpty());

    // Such a path is refused and the entry stays as it was; removing none is
    // no failure. (Writing and removing it from the settings is the
    // settings' test.)
    testsupport::TempHome home;
    Autostart autostart;
    EXPECT_TRUE(autostart.setEnabled(false, "/usr/bin/tavrelsync"));
    EXPECT_TRUE(autostart.setEnabled(true, "/usr/bin/tavrelsync"));
    EXPECT_FALSE(autostart.setEnabled(true, "/tmp/a\nb"));
    EXPECT_TRUE(testsupport::readFile(autostart.entryPath()).contains("Exec=/usr/bin/tavrelsync\n"));
}
