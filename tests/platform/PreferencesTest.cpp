#include "support/FilePermissions.h"
#include "platform/Preferences.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using testsupport::modeOf;
using testsupport::readFile;
using testsupport::writeFile;

class PreferencesTest : public ::testing::Test {
protected:
    testsupport::TempHome home;
};

TEST_F(PreferencesTest, KeepsEachTypeAcrossInstances)
{
    EXPECT_EQ(Preferences::defaultFilePath(), home.preferencesPath());
    const QList<QByteArray> bookmarks{QByteArray("first\0bytes", 11), QByteArray(), QByteArray(300, '\xfe')};
    {
        Preferences preferences;
        preferences.setString("tavrel_api_token", "secret token \u00e9");
        preferences.setDouble("syncInterval", 60.5);
        preferences.setDataArray("watchedFolderBookmarks", bookmarks);
        preferences.setString("empty", "");
    }
    Preferences reread;
    EXPECT_EQ(reread.string("tavrel_api_token"), QStringLiteral("secret token \u00e9"));
    EXPECT_EQ(reread.doubleValue("syncInterval"), 60.5);
    EXPECT_EQ(reread.dataArray("watchedFolderBookmarks"), bookmarks);
    EXPECT_EQ(reread.string("empty"), QString(""));
    EXPECT_TRUE(reread.contains("empty"));

    // Each type has its own JSON form in the file.
    const QJsonObject file = QJsonDocument::fromJson(readFile(home.preferencesPath())).object();
    EXPECT_TRUE(file.value("tavrel_api_token").isString());
    EXPECT_TRUE(file.value("syncInterval").isDouble());
    EXPECT_EQ(file.value("watchedFolderBookmarks").toArray().at(0).toObject().value("data").toString(),
              QString::fromLatin1(bookmarks.at(0).toBase64()));

    // A value read as another type is absent.
    EXPECT_FALSE(reread.doubleValue("tavrel_api_token"));
    EXPECT_FALSE(reread.dataArray("tavrel_api_token"));
    EXPECT_FALSE(reread.string("syncInterval"));
    EXPECT_FALSE(reread.string("watchedFolderBookmarks"));
    EXPECT_FALSE(reread.string("never-set"));

    reread.remove("tavrel_api_token");
    EXPECT_FALSE(Preferences().contains("tavrel_api_token"));
    EXPECT_EQ(Preferences().doubleValue("syncInterval"), 60.5);
}

TEST_F(PreferencesTest, MalformedValuesAndFilesReadAsAbsent)
{
    writeFile(home.preferencesPath(), R"({
        "notData": [{"data": 5}], "notObjects": ["aGk="], "badBase64": [{"data": "***"}],
        "mixed": [{"data": "aGk="}, 7], "number": "60", "good": [{"data": "aGk="}]})");
    Preferences preferences;
    EXPECT_FALSE(preferences.dataArray("notData"));
    EXPECT_FALSE(preferences.dataArray("notObjects"));
    EXPECT_FALSE(preferences.dataArray("badBase64"));
    EXPECT_FALSE(preferences.dataArray("mixed"));
    EXPECT_FALSE(preferences.doubleValue("number"));
    EXPECT_EQ(preferences.dataArray("good"), QList<QByteArray>{"hi"});

    const QByteArray oversized = "{\"a\": \"" + QByteArray(Preferences::maxFileBytes, 'x') + "\"}";
    for (const QByteArray &corrupt : {QByteArray("{\"a\": \"unterminated"), QByteArray("[1, 2]"), QByteArray("\xff\xfe"),
                                      oversized}) {
        writeFile(home.preferencesPath(), corrupt);
        Preferences unreadable;
        EXPECT_FALSE(unreadable.contains("a"));
        EXPECT_FALSE(unreadable.string("good"));
        // A write puts a readable file in its place and keeps the corrupt
        // one aside, for the user to repair.
        unreadable.setString("a", "b");
        EXPECT_EQ(Preferences().string("a"), QStringLiteral("b"));
        EXPECT_EQ(readFile(home.preferencesPath() + ".unreadable"), corrupt);
        unreadable.setString("a", "c");
        Preferences::waitForWrites();
        EXPECT_EQ(readFile(home.preferencesPath() + ".unreadable"), corrupt);
    }

    // A file that cannot be opened is not lost either.
    if (const testsupport::PermissionsApply permissions; permissions.active()) {
        writeFile(home.preferencesPath(), R"({"tavrel_api_token": "kept"})");
        ASSERT_TRUE(QFile::setPermissions(home.preferencesPath(), {}));
        Preferences closed;
        EXPECT_FALSE(closed.string("tavrel_api_token"));
        closed.setString("a", "b");
        Preferences::waitForWrites();
        QFile::setPermissions(home.preferencesPath() + ".unreadable", QFileDevice::ReadOwner);
        EXPECT_EQ(readFile(home.preferencesPath() + ".unreadable"), R"({"tavrel_api_token": "kept"})");
        EXPECT_EQ(Preferences().string("a"), QStringLiteral("b"));
    }
}

TEST_F(PreferencesTest, WritesPrivatelyAndAtomically)
{
    // A relative base directory is not used.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(Preferences::defaultFilePath(), QDir::homePath() + "/.config/TavrelSync/preferences.json");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath("config")));

    // Nothing is written until something changes.
    Preferences preferences;
    preferences.remove("absent");
    EXPECT_FALSE(QFileInfo::exists(home.preferencesPath()));

    preferences.setString("tavrel_api_token", "first");
    Preferences::waitForWrites(); // writes are made on a thread of their own
    EXPECT_EQ(modeOf(home.preferencesPath()), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(home.preferencesPath()).absolutePath()), 0700u);

    // The file is replaced, never rewritten in place: a reader of the old
    // file still sees it whole.
    QFile reader(home.preferencesPath());
    ASSERT_TRUE(reader.open(QIODevice::ReadOnly));
    const QByteArray before = readFile(home.preferencesPath());
    preferences.setString("tavrel_api_token", QString(10000, 'x'));
    Preferences::waitForWrites();
    EXPECT_EQ(reader.readAll(), before);
    EXPECT_EQ(modeOf(home.preferencesPath()), 0600u);
    EXPECT_EQ(QDir(QFileInfo(home.preferencesPath()).absolutePath())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"preferences.json"});
}
