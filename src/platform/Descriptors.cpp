#include "platform/Descriptors.h"

#include "platform/FileHash.h"

#include <cerrno>
#include <cstdio>
#include <limits>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace descriptors {

void UniqueFd::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int renameNoReplace(int fromDir, const char *from, int toDir, const char *to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // The file system cannot refuse a taken name within the rename; a hard
    // link can, since it never replaces. Then the old name goes.
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return -1;
    if (::unlinkat(fromDir, from, 0) != 0) {
        const int error = errno;
        ::unlinkat(toDir, to, 0);
        errno = error;
        return -1;
    }
    return 0;
}

int syncToDisk(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return -1;
    }
    return 0;
}

QString cannot(const QString &what, const QString &path, int error)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, FileHash::errorText(error));
}

qint64 nanoseconds(const timespec &time)
{
    constexpr qint64 perSecond = 1000000000;
    constexpr qint64 most = std::numeric_limits<qint64>::max();
    constexpr qint64 least = std::numeric_limits<qint64>::min();
    const qint64 seconds = qint64(time.tv_sec);
    // tv_nsec is within [0, 1e9), so only the seconds can overflow.
    if (seconds > (most - perSecond) / perSecond)
        return most;
    if (seconds < least / perSecond + 1)
        return least;
    return seconds * perSecond + qint64(time.tv_nsec);
}

qint64 fileClockNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return nanoseconds(now);
}

qint64 preciseClockNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

bool isLocalFileSystem(const struct statfs &info)
{
    switch (static_cast<unsigned long>(info.f_type)) {
    case EXT4_SUPER_MAGIC: // also ext2 and ext3
    case BTRFS_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
    case REISERFS_SUPER_MAGIC:
    case 0x3153464a: // JFS
    case 0x2fc12fc1: // ZFS
    case 0xca451a4e: // bcachefs
        return true;
    default:
        return false;
    }
}

} // namespace descriptors
