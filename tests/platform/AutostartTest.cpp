#include "platform/Autostart.h"

#include "support/TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

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
}

TEST(AutostartTest, EntryIsWrittenRemovedAndRefusedWithoutHarm)
{
    testsupport::TempHome home;
    Autostart autostart;
    EXPECT_EQ(autostart.entryPath(), home.filePath("config/autostart/com.tavrel.TavrelSync.desktop"));
    EXPECT_TRUE(autostart.setEnabled(false, "/usr/bin/tavrelsync")); // nothing to remove
    EXPECT_TRUE(autostart.setEnabled(true, "/usr/bin/tavrelsync"));
    EXPECT_TRUE(autostart.isEnabled());
    EXPECT_FALSE(autostart.setEnabled(true, "/tmp/a\nb")); // refused; the entry stays as it was
    EXPECT_TRUE(testsupport::readFile(autostart.entryPath()).contains("Exec=/usr/bin/tavrelsync\n"));
    EXPECT_TRUE(autostart.setEnabled(false, {}));
    EXPECT_FALSE(QFile::exists(autostart.entryPath()));
    EXPECT_FALSE(autostart.isEnabled());
}
