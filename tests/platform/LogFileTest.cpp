#include "platform/LogFile.h"
#include "platform/Logging.h"

#include "support/TestSupport.h"

#include <QRegularExpression>

using testsupport::readFile;

class LogFileTest : public ::testing::Test {
protected:
    void TearDown() override { LogFile::uninstall(); }
    QTemporaryDir dir;
};

// A file name carrying line breaks or other control characters stays on the
// one line of its message.
TEST_F(LogFileTest, ControlCharactersCannotForgeLines)
{
    const QString path = dir.filePath("logs/tavrelsync.log");
    LogFile::install(path);
    const QString forged = "report.txt\n2026-01-01 00:00:00.000 com.tavrel.TavrelSync.SyncEngine info: Sync completed\r\x1b[2J\t\x7f\u2028end";
    qCInfo(lcSyncEngine).noquote() << "Uploaded:" << forged;
    qCInfo(lcSyncEngine) << "Sync completed";
    LogFile::uninstall();

    const QList<QByteArray> lines = readFile(path).split('\n');
    ASSERT_EQ(lines.size(), 3); // two messages and the empty rest after the last
    EXPECT_TRUE(lines[0].contains("Uploaded: report.txt\\n2026-01-01")) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith("Sync completed\\r\\x1b[2J\\t\\x7f\\u2028end")) << lines[0].toStdString();
    EXPECT_FALSE(lines[0].contains('\r'));
    EXPECT_TRUE(lines[1].endsWith("Sync completed"));
    EXPECT_TRUE(lines[2].isEmpty());
    EXPECT_EQ(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

// Past the limit the file becomes the one old file (replacing an older
// one) and logging goes on in a fresh file; no message is lost in between.
TEST_F(LogFileTest, RotatesKeepingOneOldFile)
{
    const QString path = dir.filePath("tavrelsync.log");
    LogFile::install(path, 1000);
    for (int i = 0; i < 60; ++i)
        qCInfo(lcApp, "message %03d %s", i, QByteArray(40, 'x').constData());
    LogFile::uninstall();

    EXPECT_TRUE(QFile::exists(path + ".1"));
    EXPECT_FALSE(QFile::exists(path + ".2"));
    EXPECT_LE(QFile(path + ".1").size(), 1000 + 200);
    const QByteArray newest = readFile(path);
    EXPECT_TRUE(newest.contains("message 059"));
    const QByteArray old = readFile(path + ".1");
    // The old file ends exactly where the new one starts.
    const QRegularExpression number("message (\\d+)");
    int lastOld = -1;
    for (auto match = number.globalMatch(QString::fromUtf8(old)); match.hasNext();)
        lastOld = match.next().captured(1).toInt();
    EXPECT_EQ(number.match(QString::fromUtf8(newest)).captured(1).toInt(), lastOld + 1);

    // Installing again appends to what is there.
    LogFile::install(path, 1000);
    qCInfo(lcApp, "after restart");
    LogFile::uninstall();
    EXPECT_TRUE(readFile(path).startsWith(newest));
}
