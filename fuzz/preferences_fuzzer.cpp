// The preferences file as found on disk: any content reads, as values or
// as absent, and every typed reading of every key holds.
#include "FuzzCheck.h"
#include "platform/Preferences.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("preferences.json"));
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), qint64(size)) == qint64(size));
    }
    const Preferences preferences(path);
    // The keys the program reads, and whatever keys the file has.
    QStringList keys{QStringLiteral("tavrel_server_url"), QStringLiteral("tavrel_api_token"),
                     QStringLiteral("watchedFolderBookmarks"), QStringLiteral("syncInterval"),
                     QStringLiteral("syncPaused"), QStringLiteral("recentFiles"), QStringLiteral("startAtLogin")};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (document.isObject())
        keys += document.object().keys();
    for (const QString &key : keys) {
        const auto text = preferences.string(key);
        const auto list = preferences.dataArray(key);
        const auto number = preferences.doubleValue(key);
        // A value has one type at most.
        FUZZ_CHECK(int(text.has_value()) + int(list.has_value()) + int(number.has_value()) <= 1);
        FUZZ_CHECK(!(text || list || number) || preferences.contains(key));
    }
    return 0;
}
