// Moving a file from a watched folder to the user's Trash, laid out as the
// desktops expect (files/ and info/ with a .trashinfo per file), so that a
// file manager can put it back.
#include "platform/FolderAccess.h"

#include "platform/FolderAccessDetail.h"
#include "platform/FileHash.h"

#include <QDateTime>
#include <QDir>

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using descriptors::UniqueFd;

namespace {

struct Trash {
    UniqueFd files;
    UniqueFd info;
};

// Opens the folder `name` below `dirFd`, made owner-only when it is new,
// without following a link. Another user's folder is not ours to fill.
UniqueFd ownFolder(int dirFd, const char *name)
{
    if (::mkdirat(dirFd, name, 0700) != 0 && errno != EEXIST)
        return {};
    UniqueFd folder(::openat(dirFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!folder.isOpen() || ::fstat(folder.get(), &st) != 0 || st.st_uid != ::getuid())
        return {};
    return folder;
}

std::optional<Trash> trashIn(int folderFd)
{
    Trash trash{ownFolder(folderFd, "files"), ownFolder(folderFd, "info")};
    if (!trash.files.isOpen() || !trash.info.isOpen())
        return std::nullopt;
    return trash;
}

// $XDG_DATA_HOME/Trash, made when missing.
std::optional<Trash> homeTrash()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (!QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    if (!QDir().mkpath(dataHome))
        return std::nullopt;
    const UniqueFd data(::open(QFile::encodeName(dataHome).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!data.isOpen())
        return std::nullopt;
    const UniqueFd trash = ownFolder(data.get(), "Trash");
    return trash.isOpen() ? trashIn(trash.get()) : std::nullopt;
}

// The top folder of the file system (device) that holds the folder open at
// `folderFd`, found by going up until the device changes.
UniqueFd topOfFileSystem(int folderFd, dev_t device)
{
    UniqueFd current(::fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    struct stat here;
    if (!current.isOpen() || ::fstat(current.get(), &here) != 0 || here.st_dev != device)
        return {};
    for (;;) {
        UniqueFd up(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat above;
        if (!up.isOpen() || ::fstat(up.get(), &above) != 0)
            return {};
        const bool isRoot = above.st_dev == here.st_dev && above.st_ino == here.st_ino;
        if (isRoot || above.st_dev != device)
            return current;
        current = std::move(up);
        here = above;
    }
}

// $topdir/.Trash/$uid when .Trash is a real folder with the sticky bit (so
// that users cannot remove each other's), otherwise $topdir/.Trash-$uid.
std::optional<Trash> topTrash(int topFd)
{
    const QByteArray uid = QByteArray::number(::getuid());
    const UniqueFd shared(::openat(topFd, ".Trash", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (shared.isOpen() && ::fstat(shared.get(), &st) == 0 && (st.st_mode & S_ISVTX)) {
        const UniqueFd own = ownFolder(shared.get(), uid.constData());
        if (own.isOpen())
            if (auto trash = trashIn(own.get()))
                return trash;
    }
    const UniqueFd own = ownFolder(topFd, (".Trash-" + uid).constData());
    return own.isOpen() ? trashIn(own.get()) : std::nullopt;
}

// "a 2.txt" for the second "a.txt" in the Trash.
QString numberedName(const QString &fileName, int number)
{
    if (number == 1)
        return fileName;
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? fileName.mid(dot) : QString();
    const QString stem = dot > 0 ? fileName.left(dot) : fileName;
    return stem + QStringLiteral(" %1").arg(number) + extension;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes the .trashinfo first (created exclusively, which reserves the
// name), then renames the file into files/ under that name, given in
// `movedAs`. Returns 0 or the errno that stopped it; nothing is left behind
// on failure.
int moveInto(const Trash &trash, int parentFd, const QByteArray &name, const QString &originalPath,
             QByteArray &movedAs)
{
    const QString fileName = QFile::decodeName(name);
    const QByteArray info = "[Trash Info]\nPath=" + QFile::encodeName(originalPath).toPercentEncoding("/")
        + "\nDeletionDate="
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss")).toLatin1() + '\n';
    for (int number = 1; number < 1000; ++number) {
        // Room for the number and ".trashinfo" in one name.
        const QString candidate =
            numberedName(folderdetail::shortened(fileName, folderdetail::maxNameBytes - 20), number);
        const QByteArray entry = QFile::encodeName(candidate);
        const QByteArray infoName = entry + ".trashinfo";
        UniqueFd infoFile(
            ::openat(trash.info.get(), infoName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!infoFile.isOpen()) {
            if (errno == EEXIST)
                continue;
            return errno;
        }
        if (!writeAll(infoFile.get(), info) || descriptors::syncToDisk(infoFile.get()) != 0) {
            const int error = errno;
            ::unlinkat(trash.info.get(), infoName.constData(), 0);
            return error;
        }
        infoFile.reset();
        if (descriptors::renameNoReplace(parentFd, name.constData(), trash.files.get(), entry.constData()) == 0) {
            movedAs = entry;
            return 0;
        }
        const int error = errno;
        ::unlinkat(trash.info.get(), infoName.constData(), 0);
        if (error != EEXIST) // a file without its info under that name
            return error;
    }
    return EEXIST;
}

} // namespace

struct TrashedFile::State {
    Trash trash;              // the Trash that took the file
    QByteArray entry;         // its name in files/ (and, with ".trashinfo", in info/)
    UniqueFd folder;          // the folder it came from
    QByteArray originalName;  // its name there
    QString relativeFolder;   // that folder relative to the watched one: "" or "Sub/"
    QString shown;            // its original absolute path, for messages
    FileFacts facts;          // as it was just before the move
};

TrashedFile::TrashedFile(std::unique_ptr<State> state) : d(std::move(state)) {}
TrashedFile::TrashedFile(TrashedFile &&) noexcept = default;
TrashedFile &TrashedFile::operator=(TrashedFile &&) noexcept = default;
TrashedFile::~TrashedFile() = default;

const FileFacts &TrashedFile::facts() const
{
    return d->facts;
}

QString TrashedFile::hash() const
{
    const QString shown = QStringLiteral("%1 (in the Trash)").arg(d->shown);
    const UniqueFd file(FileHash::openRegularFile(d->trash.files.get(), d->entry, shown));
    return FileHash::sha256Of(file.get(), shown);
}

std::optional<QString> TrashedFile::restore(const QString &nameIfTaken)
{
    QByteArray name = d->originalName;
    int result = descriptors::renameNoReplace(d->trash.files.get(), d->entry.constData(), d->folder.get(),
                                              name.constData());
    if (result != 0 && errno == EEXIST && folderdetail::isPlainName(nameIfTaken)) {
        name = QFile::encodeName(nameIfTaken);
        result = descriptors::renameNoReplace(d->trash.files.get(), d->entry.constData(), d->folder.get(),
                                              name.constData());
    }
    if (result != 0 && errno == EEXIST)
        return std::nullopt;
    if (result != 0)
        throw FileError(descriptors::cannot(QStringLiteral("Cannot take back from the Trash"), d->shown, errno));
    ::unlinkat(d->trash.info.get(), (d->entry + ".trashinfo").constData(), 0);
    return d->relativeFolder + QFile::decodeName(name);
}

TrashedFile FolderAccess::moveToTrash(const QString &relativePath) const
{
    Parent parent = openParent(relativePath);
    parent.requireFolder();
    struct stat st;
    if (::fstatat(parent.fd, parent.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        throw FileError(descriptors::cannot(QStringLiteral("Cannot move to the Trash"), parent.shown, errno));
    if (S_ISLNK(st.st_mode))
        throw CrossesLinkError(QStringLiteral("Cannot move %1 to the Trash: it is a symbolic link").arg(parent.shown));
    if (!S_ISREG(st.st_mode))
        throw FileError(QStringLiteral("Cannot move %1 to the Trash: not a regular file").arg(parent.shown));

    auto moved = std::make_unique<TrashedFile::State>();
    moved->originalName = parent.name;
    moved->shown = parent.shown;
    moved->facts = folderdetail::factsFrom(st);
    const qsizetype slash = relativePath.lastIndexOf(QLatin1Char('/'));
    moved->relativeFolder = slash < 0 ? QString() : relativePath.left(slash + 1);
    moved->folder = parent.owned.isOpen() ? std::move(parent.owned) : UniqueFd(::fcntl(m_fd, F_DUPFD_CLOEXEC, 0));
    if (!moved->folder.isOpen())
        throw FileError(descriptors::cannot(QStringLiteral("Cannot move to the Trash"), parent.shown, errno));
    const int parentFd = moved->folder.get();

    // A rename cannot cross file systems, and a copy is never made: only a
    // Trash on the file's own file system can take it.
    int error = EXDEV;
    if (auto home = homeTrash()) {
        struct stat trashInfo;
        if (::fstat(home->files.get(), &trashInfo) == 0 && trashInfo.st_dev == st.st_dev) {
            error = moveInto(*home, parentFd, parent.name, parent.shown, moved->entry);
            if (error == 0) {
                moved->trash = std::move(*home);
                return TrashedFile(std::move(moved));
            }
        }
    }
    // Also when the home Trash is on the same device but behind another
    // mount of it (EXDEV).
    if (error == EXDEV) {
        const UniqueFd top = topOfFileSystem(parentFd, st.st_dev);
        if (auto trash = top.isOpen() ? topTrash(top.get()) : std::nullopt) {
            error = moveInto(*trash, parentFd, parent.name, parent.shown, moved->entry);
            if (error == 0) {
                moved->trash = std::move(*trash);
                return TrashedFile(std::move(moved));
            }
        }
    }
    if (error == EXDEV)
        throw FileError(
            QStringLiteral("Cannot move %1 to the Trash: no Trash on its file system can take it").arg(parent.shown));
    throw FileError(descriptors::cannot(QStringLiteral("Cannot move to the Trash"), parent.shown, error));
}
