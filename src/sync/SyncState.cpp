#include "sync/SyncState.h"

#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString dataHome()
{
    const QString base = qEnvironmentVariable("XDG_DATA_HOME");
    // A relative value is invalid and ignored, as the base directory rules say.
    return base.isEmpty() || QDir::isRelativePath(base) ? QDir::homePath() + QStringLiteral("/.local/share") : base;
}

// After the rename, the directory entry itself must reach the disk for the
// new file to survive a power loss.
void syncDirectory(const QString &dirPath)
{
    const int fd = ::open(QFile::encodeName(dirPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QString SyncState::fileURL()
{
    static const QString path = [] {
        const QString dir = QDir::cleanPath(dataHome() + QStringLiteral("/TavrelSync"));
        // A failure shows up as failed (and ignored) saves later on.
        QDir().mkpath(dir);
        return dir + QStringLiteral("/sync_state.json");
    }();
    return path;
}

SyncState SyncState::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileBytes)
        return {};
    // A bad file is left in place; the next save replaces it.
    return decode(file.readAll()).value_or(SyncState{});
}

void SyncState::save(const QString &path) const
{
    const QByteArray bytes = encode();
    if (!bytes.isEmpty())
        writeFile(path, bytes);
}

bool SyncState::writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCCritical(lcSyncState) << "Cannot write the sync state" << path << file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // QSaveFile writes beside the target and renames over it; the explicit
    // fsync makes sure the bytes are on disk before the rename.
    if (file.write(bytes) != bytes.size() || !file.flush() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        file.commit();
        qCCritical(lcSyncState) << "Cannot write the sync state" << path;
        return false;
    }
    if (!file.commit()) {
        qCCritical(lcSyncState) << "Cannot save the sync state" << path << file.errorString();
        return false;
    }
    syncDirectory(QFileInfo(path).absolutePath());
    return true;
}
