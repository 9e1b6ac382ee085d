#include "support/TmpfsMount.h"

#include <QFile>

#include <sys/mount.h>

namespace testsupport {

TmpfsMount::TmpfsMount(qint64 bytes) : TmpfsMount(bytes, QString()) {}

TmpfsMount::TmpfsMount(qint64 bytes, const QString &at) : m_at(at.isEmpty() ? m_dir.path() : at)
{
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    m_mounted = ::mount("tmpfs", QFile::encodeName(m_at).constData(), "tmpfs", 0, options.constData()) == 0;
}

TmpfsMount::~TmpfsMount()
{
    unmount();
}

void TmpfsMount::unmount()
{
    // Detached so that a descriptor a failed test left open cannot keep
    // the mount behind.
    if (m_mounted)
        ::umount2(QFile::encodeName(m_at).constData(), MNT_DETACH);
    m_mounted = false;
}

} // namespace testsupport
