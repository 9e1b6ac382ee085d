#include "sync/SyncState.h"

#include "platform/Logging.h"
#include "sync/PrettyJsonWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <array>
#include <istream>
#include <streambuf>

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

// The state file as a stream, read a block at a time. A read error ends the
// stream (the file then reads as cut short) rather than throwing, as the
// standard library's file streams do.
class FileReader : public std::streambuf {
public:
    explicit FileReader(QFile &file) : m_file(file) {}

protected:
    int_type underflow() override
    {
        const qint64 read = m_file.read(m_block.data(), qint64(m_block.size()));
        if (read <= 0)
            return traits_type::eof();
        setg(m_block.data(), m_block.data(), m_block.data() + read);
        return traits_type::to_int_type(m_block[0]);
    }

private:
    QFile &m_file;
    std::array<char, 64 * 1024> m_block;
};

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
    FileReader reader(file);
    std::istream stream(&reader);
    // A bad file is left in place; the next save replaces it.
    return decode(stream).value_or(SyncState{});
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
