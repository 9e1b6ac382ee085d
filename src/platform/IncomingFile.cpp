#include "platform/FolderAccess.h"

#include "platform/FolderAccessDetail.h"
#include "platform/FileHash.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

using descriptors::cannot;
using descriptors::UniqueFd;

namespace {

const QByteArray temporaryPrefix(incomingFilePrefix);
constexpr int temporaryRandomLength = 6;

// When this process started (as its static data was set up): a download
// temporary last written before then belongs to no transfer of this run.
const qint64 processStartNs = [] {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return descriptors::nanoseconds(now);
}();

QByteArray randomTemporaryName()
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name(temporaryPrefix);
    for (int i = 0; i < temporaryRandomLength; ++i)
        name.append(letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))]);
    return name;
}

// Entries of a folder reach the disk only when the folder is flushed; a
// folder that cannot be opened for it keeps them as the system decides.
void syncFolderEntries(int folderFd)
{
    const UniqueFd folder(::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.isOpen())
        descriptors::syncToDisk(folder.get());
}

} // namespace

namespace folderdetail {

qint64 FdWriter::writeData(const char *data, qint64 length)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t n = ::write(m_fd, data + done, size_t(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // A short write is a failed one: the download is incomplete.
            m_writeError = n < 0 ? errno : ENOSPC;
            setErrorString(FileHash::errorText(m_writeError));
            return -1;
        }
        done += n;
    }
    return done;
}

} // namespace folderdetail

bool FolderAccess::isDownloadTemporaryName(const QString &name)
{
    const QByteArray bytes = QFile::encodeName(name);
    if (!bytes.startsWith(temporaryPrefix) || bytes.size() != temporaryPrefix.size() + temporaryRandomLength)
        return false;
    return std::all_of(bytes.begin() + temporaryPrefix.size(), bytes.end(),
                       [](char c) { return std::isalnum((unsigned char)c) != 0; });
}

bool FolderAccess::removeStaleDownload(const QString &relativePath) const
{
    const Parent parent = openParent(relativePath);
    if (parent.fd < 0 || !isDownloadTemporaryName(QFile::decodeName(parent.name)))
        return false;
    struct stat st;
    if (::fstatat(parent.fd, parent.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (descriptors::nanoseconds(st.st_mtim) >= processStartNs)
        return false; // possibly a transfer of this run, still being written
    if (::unlinkat(parent.fd, parent.name.constData(), 0) != 0) {
        if (errno == ENOENT)
            return false;
        throw FileError(cannot(QStringLiteral("Cannot remove"), parent.shown, errno));
    }
    return true;
}

IncomingFile FolderAccess::createIncoming(const QString &relativeDestination) const
{
    Parent parent = openParent(relativeDestination);
    parent.requireFolder();
    auto state = std::make_unique<IncomingFile::State>();
    state->destination = relativeDestination;
    state->targetName = parent.name;
    state->shownFolder = absolutePathOf(relativeDestination).section(QLatin1Char('/'), 0, -2);
    state->folder = parent.owned.isOpen() ? std::move(parent.owned) : UniqueFd(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
    if (!state->folder.isOpen())
        throw FileError(cannot(QStringLiteral("Cannot write into"), state->shownFolder, errno));

    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = randomTemporaryName();
        // 0666: the umask and the folder's default permissions apply, as for
        // any file the user's programs make.
        const int fd = ::openat(state->folder.get(), name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            throw FileError(cannot(QStringLiteral("Cannot write into"), state->shownFolder, errno));
        }
        state->file = UniqueFd(fd);
        state->temporaryName = name;
        break;
    }
    if (!state->file.isOpen())
        throw FileError(cannot(QStringLiteral("Cannot write into"), state->shownFolder, EEXIST));
    state->device.setDescriptor(state->file.get());
    state->device.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    return IncomingFile(std::move(state));
}

IncomingFile::IncomingFile(std::unique_ptr<State> state) : d(std::move(state)) {}

IncomingFile::IncomingFile(IncomingFile &&other) noexcept = default;

IncomingFile &IncomingFile::operator=(IncomingFile &&other) noexcept
{
    if (this != &other) {
        discard();
        d = std::move(other.d);
    }
    return *this;
}

IncomingFile::~IncomingFile()
{
    discard();
}

QIODevice &IncomingFile::device()
{
    return d->device;
}

QString IncomingFile::destination() const
{
    return d->destination;
}

QString IncomingFile::temporaryName() const
{
    return QFile::decodeName(d->temporaryName);
}

void IncomingFile::discard()
{
    if (!d || d->gone)
        return;
    d->device.close();
    d->file.reset();
    ::unlinkat(d->folder.get(), d->temporaryName.constData(), 0);
    d->gone = true;
}

void IncomingFile::State::flushToDisk()
{
    State &state = *this;
    if (state.gone)
        throw FileError(QStringLiteral("The download for %1 was already put in place or removed").arg(state.destination));
    if (state.flushed)
        return;
    const QString shown = state.shownFolder + QLatin1Char('/') + QFile::decodeName(state.targetName);
    if (state.device.writeError() != 0)
        throw FileError(cannot(QStringLiteral("Cannot write"), shown, state.device.writeError()));
    state.device.close();
    if (descriptors::syncToDisk(state.file.get()) != 0)
        throw FileError(cannot(QStringLiteral("Cannot write"), shown, errno));
    state.flushed = true;
}

QString IncomingFile::hash()
{
    d->flushToDisk();
    const QString shown = d->shownFolder + QLatin1Char('/') + QFile::decodeName(d->temporaryName);
    const UniqueFd file(FileHash::openRegularFile(d->folder.get(), d->temporaryName, shown));
    return FileHash::sha256Of(file.get(), shown);
}

FileFacts IncomingFile::writtenFacts()
{
    d->flushToDisk();
    struct stat st;
    if (::fstat(d->file.get(), &st) != 0)
        throw FileError(cannot(QStringLiteral("Cannot examine"),
                               d->shownFolder + QLatin1Char('/') + QFile::decodeName(d->temporaryName), errno));
    return folderdetail::factsFrom(st);
}

void IncomingFile::setPermissions(unsigned permissions)
{
    if (d->gone)
        throw FileError(QStringLiteral("The download for %1 was already put in place or removed").arg(d->destination));
    // Never set-id bits: they were the old file's, not the download's.
    if (::fchmod(d->file.get(), permissions & 01777) != 0)
        throw FileError(cannot(QStringLiteral("Cannot write"),
                               d->shownFolder + QLatin1Char('/') + QFile::decodeName(d->targetName), errno));
}

bool IncomingFile::placeNew()
{
    return placeNewAs(QFile::decodeName(d->targetName));
}

bool IncomingFile::placeNewAs(const QString &name)
{
    if (!folderdetail::isPlainName(name))
        throw FileError(QStringLiteral("\"%1\" is not a file name").arg(name));
    d->flushToDisk();
    const QByteArray target = QFile::encodeName(name);
    if (descriptors::renameNoReplace(d->folder.get(), d->temporaryName.constData(), d->folder.get(),
                                     target.constData())
        != 0) {
        if (errno == EEXIST)
            return false;
        throw FileError(cannot(QStringLiteral("Cannot put the download in place at"),
                               d->shownFolder + QLatin1Char('/') + name, errno));
    }
    d->notePlaced();
    return true;
}

void IncomingFile::syncPlacement()
{
    if (d && d->placed)
        syncFolderEntries(d->folder.get());
}

bool IncomingFile::replace(const FileFacts &expected)
{
    d->flushToDisk();
    const QString shown = d->shownFolder + QLatin1Char('/') + QFile::decodeName(d->targetName);
    struct stat st;
    if (::fstatat(d->folder.get(), d->targetName.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return false;
        throw FileError(cannot(QStringLiteral("Cannot examine"), shown, errno));
    }
    const FileFacts current = folderdetail::factsFrom(st);
    if (!current.isRegularFile || !current.isSameVersion(expected))
        return false;

    // The new content takes the old file's permissions, never set-id bits.
    if (::fchmod(d->file.get(), st.st_mode & 01777) != 0)
        throw FileError(cannot(QStringLiteral("Cannot write"), shown, errno));
    // What was checked can still change between the check above and this
    // rename; the window is a few system calls wide.
    if (::renameat(d->folder.get(), d->temporaryName.constData(), d->folder.get(), d->targetName.constData()) != 0)
        throw FileError(cannot(QStringLiteral("Cannot put the download in place at"), shown, errno));
    d->notePlaced();
    return true;
}

void IncomingFile::State::notePlaced()
{
    // Taken through the descriptor the moment the name is given: whatever
    // happens at that name later shows in the facts.
    struct stat st;
    if (::fstat(file.get(), &st) == 0) {
        placedFacts = folderdetail::factsFrom(st);
        placedAtNs = descriptors::preciseClockNs(); // after the times were read
    }
    struct statfs volume;
    onLocalFileSystem = ::fstatfs(file.get(), &volume) == 0 && descriptors::isLocalFileSystem(volume);
    file.reset();
    gone = true;
    placed = true;
}

bool IncomingFile::State::placedAsWritten(const FileFacts &written) const
{
    // Only the status change time may differ from the bytes as written:
    // any other difference is a change since, left for a read to find.
    return placedFacts && placedFacts->device == written.device && placedFacts->inode == written.inode
        && placedFacts->size == written.size && placedFacts->modifiedNs == written.modifiedNs;
}

FileFacts IncomingFile::asPlaced(FileFacts written) const
{
    if (d->placedAsWritten(written))
        written.changedNs = d->placedFacts->changedNs;
    return written;
}

qint64 IncomingFile::placedAtNs(const FileFacts &written, qint64 writtenNs) const
{
    // A coarse time is never ahead of the coarse clock read after it: a
    // time ahead of it is a fine-grained one.
    const bool stampsAreFine = written.modifiedNs > writtenNs && d->onLocalFileSystem;
    return stampsAreFine && d->placedAsWritten(written) ? d->placedAtNs : writtenNs;
}
