#include "support/TmpfsMount.h"

#include <QFile>

#include <sys/mount.h>

namespace testsupport {

TmpfsMount::TmpfsMount(qint64 bytes)
{
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    m_mounted = ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, options.constData()) == 0;
}

TmpfsMount::~TmpfsMount()
{
    // Detached so that a descriptor a failed test left open cannot keep
    // the mount behind.
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

} // namespace testsupport
