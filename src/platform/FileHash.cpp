#include "platform/FileHash.h"

#include "platform/FileError.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FileHash {

namespace {

constexpr size_t chunkSize = 0x100000; // 1 MiB

QString cannot(const QString &what, const QString &path, int error)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, errorText(error));
}

} // namespace

QString errorText(int error)
{
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be `buffer`.
    return QString::fromLocal8Bit(::strerror_r(error, buffer, sizeof buffer));
}

int openRegularFile(int dirFd, const QByteArray &name, const QString &shownPath)
{
    // Non-blocking so that a pipe put in the file's place cannot hang the
    // caller; it is refused below like every other non-regular file.
    const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP)
            throw CrossesLinkError(QStringLiteral("Cannot open %1: it is a symbolic link").arg(shownPath));
        throw FileError(cannot(QStringLiteral("Cannot open"), shownPath, error));
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        throw FileError(cannot(QStringLiteral("Cannot read"), shownPath, error));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw FileError(QStringLiteral("Cannot read %1: not a regular file").arg(shownPath));
    }
    return fd;
}

QString sha256Of(int fd, const QString &shownPath)
{
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    const std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX *)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        throw FileError(QStringLiteral("Cannot hash %1: SHA-256 is unavailable").arg(shownPath));

    // One buffer for the whole file: memory stays at one chunk however large
    // the file is.
    const std::unique_ptr<char[]> chunk(new char[chunkSize]);
    for (;;) {
        const ssize_t n = ::read(fd, chunk.get(), chunkSize);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // A read failure part-way must not pass for the hash of a
            // shorter file.
            throw FileError(cannot(QStringLiteral("Cannot read"), shownPath, errno));
        }
        if (n == 0)
            break;
        if (EVP_DigestUpdate(ctx.get(), chunk.get(), size_t(n)) != 1)
            throw FileError(QStringLiteral("Cannot hash %1").arg(shownPath));
    }

    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1)
        throw FileError(QStringLiteral("Cannot hash %1").arg(shownPath));
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), length).toHex());
}

} // namespace FileHash
