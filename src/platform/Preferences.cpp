#include "platform/Preferences.h"

#include "platform/BackgroundPriority.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QThreadPool>

namespace {

// Empty when there is no file; nullopt when there is one that cannot be
// read as a JSON object.
std::optional<QJsonObject> readObject(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? std::nullopt : std::optional(QJsonObject());
    // The file holds a few hundred bytes of settings; one far larger is not
    // ours and is not read into memory.
    if (file.size() > Preferences::maxFileBytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

bool ensurePrivateDirectory(const QString &dirPath)
{
    QDir dir(dirPath);
    if (dir.exists())
        return true;
    if (!dir.mkpath(QStringLiteral(".")))
        return false;
    return QFile::setPermissions(dirPath,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

// Writes end with an fsync, which waits for the disk: behind a large state
// write that can take most of a second, so they are made on a thread of
// their own. One thread for every store of the process, so that the writes
// land in the order they were made.
QThreadPool &writerThread()
{
    static QThreadPool *const pool = [] {
        auto *threads = new QThreadPool; // lives as long as the process
        threads->setMaxThreadCount(1);
        return threads;
    }();
    return *pool;
}

void writeAtomically(const QString &path, const QByteArray &bytes, bool keepUnreadableFile)
{
    const QString dirPath = QFileInfo(path).absolutePath();
    if (!ensurePrivateDirectory(dirPath)) {
        qCCritical(lcApp) << "Cannot create the preferences folder" << dirPath;
        return;
    }
    if (keepUnreadableFile) {
        const QString aside = path + QStringLiteral(".unreadable");
        QFile::remove(aside);
        if (QFile::rename(path, aside))
            qCCritical(lcApp) << "Kept the unreadable preferences file as" << aside;
    }
    // QSaveFile writes a temporary file beside the target and renames it
    // over, so a crash leaves either the old file or the new one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCCritical(lcApp) << "Cannot write the preferences file" << path << file.errorString();
        return;
    }
    // Restricted before any byte lands: the file holds the bearer token.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(bytes);
    if (!file.commit())
        qCCritical(lcApp) << "Cannot save the preferences file" << path << file.errorString();
}

} // namespace

Preferences::Preferences(QString filePath)
    : m_filePath(std::move(filePath))
{
    // A store made after another one's change reads the file with it.
    waitForWrites();
    // An unreadable file reads as empty.
    if (auto values = readObject(m_filePath)) {
        m_values = std::move(*values);
    } else {
        qCCritical(lcApp) << "Ignoring unreadable preferences file" << m_filePath;
        m_keepUnreadableFile = true;
    }
}

QString Preferences::defaultFilePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid and ignored, as the base directory rules say.
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/TavrelSync/preferences.json"));
}

std::optional<QString> Preferences::string(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QList<QByteArray>> Preferences::dataArray(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    if (!value.isArray())
        return std::nullopt;
    QList<QByteArray> result;
    for (const QJsonValue &element : value.toArray()) {
        const QJsonValue data = element.toObject().value(QStringLiteral("data"));
        if (!element.isObject() || !data.isString())
            return std::nullopt;
        auto decoded = QByteArray::fromBase64Encoding(data.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        result.append(*decoded);
    }
    return result;
}

std::optional<double> Preferences::doubleValue(const QString &key) const
{
    const QJsonValue value = m_values.value(key);
    if (!value.isDouble())
        return std::nullopt;
    return value.toDouble();
}

bool Preferences::contains(const QString &key) const
{
    return m_values.contains(key);
}

void Preferences::setString(const QString &key, const QString &value)
{
    m_values.insert(key, value);
    writeFile();
}

void Preferences::setDataArray(const QString &key, const QList<QByteArray> &value)
{
    QJsonArray array;
    for (const QByteArray &data : value)
        array.append(QJsonObject{{QStringLiteral("data"), QString::fromLatin1(data.toBase64())}});
    m_values.insert(key, array);
    writeFile();
}

void Preferences::setDouble(const QString &key, double value)
{
    m_values.insert(key, value);
    writeFile();
}

void Preferences::remove(const QString &key)
{
    if (!m_values.contains(key))
        return;
    m_values.remove(key);
    writeFile();
}

void Preferences::writeFile()
{
    writerThread().start(inBackground([path = m_filePath, bytes = QJsonDocument(m_values).toJson(QJsonDocument::Indented),
                                       keepUnreadableFile = std::exchange(m_keepUnreadableFile, false)] {
        writeAtomically(path, bytes, keepUnreadableFile);
    }));
}

Preferences::~Preferences()
{
    waitForWrites();
}

void Preferences::waitForWrites()
{
    writerThread().waitForDone();
}
