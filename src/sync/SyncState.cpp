#include "sync/SyncState.h"

#include "platform/Logging.h"
#include "sync/PrettyJsonWriter.h"

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
    writeTo(path);
}

qint64 SyncState::writeTo(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        qCCritical(lcSyncState) << "Cannot write the sync state" << path << file.errorString();
        return -1;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    // QSaveFile writes beside the target and renames over it; the explicit
    // fsync makes sure the bytes are on disk before the rename.
    PrettyJsonWriter out;
    out.streamTo(&file);
    if (!encodeInto(out) || !out.finish() || !file.flush() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        file.commit();
        qCCritical(lcSyncState) << "Cannot write the sync state" << path;
        return -1;
    }
    const qint64 written = file.pos();
    if (!file.commit()) {
        qCCritical(lcSyncState) << "Cannot save the sync state" << path << file.errorString();
        return -1;
    }
    syncDirectory(QFileInfo(path).absolutePath());
    return written;
}
