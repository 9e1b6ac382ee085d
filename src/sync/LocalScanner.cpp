#include "sync/LocalScanner.h"

#include "platform/Descriptors.h"
#include "platform/FileHash.h"
#include "platform/FolderAccess.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace LocalScanner {

namespace {

// Names that are never synced: desktop metadata, lock and partial-download
// files. Compared exactly and case-sensitively.
constexpr std::string_view ignoredFileNames[] = {".DS_Store", ".localized", "Thumbs.db"};
constexpr std::string_view ignoredPrefixes[] = {"._", "~", "."};
constexpr std::string_view ignoredSuffixes[] = {".tmp", ".crdownload", ".part"};

// The tables hold ASCII only, so testing the UTF-8 bytes of a name gives the
// same answer as testing its characters.
bool isIgnoredBytes(std::string_view name)
{
    for (std::string_view entry : ignoredFileNames)
        if (name == entry)
            return true;
    for (std::string_view prefix : ignoredPrefixes)
        if (name.starts_with(prefix))
            return true;
    for (std::string_view suffix : ignoredSuffixes)
        if (name.ends_with(suffix))
            return true;
    return false;
}

bool isAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x80; });
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

constexpr std::string_view downloadTemporaryPrefix = ".tavrel-download-";

FileFacts factsOf(const struct stat &st, qint64 takenNs)
{
    return FileFacts{qint64(st.st_size), qint64(st.st_ino), descriptors::nanoseconds(st.st_mtim),
                     descriptors::nanoseconds(st.st_ctim), takenNs};
}

// A name as it can be shown, its undecodable bytes replaced.
QString shownName(const std::string &name)
{
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
}

// Walks a folder below an open directory descriptor. Every step is relative
// to its parent's descriptor and never follows a symbolic link, so nothing
// outside the folder is visited even when links point out of it or a
// directory is swapped for a link during the scan.
class Walker {
public:
    Walker(Listing &out, QString root, const KnownPath &knownPath)
        : m_out(out), m_root(std::move(root)), m_knownPath(knownPath), m_takenNs(descriptors::fileClockNs())
    {
    }

    // Lists the directory open at `fd` (taking ownership of it) whose path,
    // ending in a slash, is `prefix`. False when it could not be read whole.
    bool walk(int fd, const QString &prefix);

private:
    enum class Kind { file, directory, other, downloadTemporary };
    struct Entry {
        std::string name;
        Kind kind;
        FileFacts facts;
    };

    bool readEntries(DIR *dir, std::vector<Entry> &entries);
    void descend(int parentFd, const std::string &name, const QString &path);

    Listing &m_out;
    QString m_root; // the watched folder's path, ending in a slash
    const KnownPath &m_knownPath;
    // When the scan started: every file's facts were taken after it.
    qint64 m_takenNs;
    // Devices and inodes of the directories being walked: a bind mount that
    // shows an ancestor again must not be walked round forever.
    std::vector<std::pair<dev_t, ino_t>> m_ancestors;
};

bool Walker::walk(int fd, const QString &prefix)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    // Listing a directory needs read permission, reaching its entries needs
    // search permission: without it the names would be listed but none of
    // the files could be hashed.
    if (::faccessat(fd, ".", R_OK | X_OK, AT_EACCESS) != 0) {
        ::close(fd);
        return false;
    }
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return false;
    }
    const std::unique_ptr<DIR, int (*)(DIR *)> closer(dir, ::closedir);

    std::vector<Entry> entries;
    const bool complete = readEntries(dir, entries);
    // A fixed order, so that which of two same-named files is kept does not
    // depend on the file system's hashing of names.
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });

    m_ancestors.emplace_back(st.st_dev, st.st_ino);
    for (const Entry &entry : entries) {
        const QString name = QFile::decodeName(entry.name.c_str());
        // A name that is not valid in the locale's encoding (UTF-8) cannot be
        // turned back into the same bytes, so the file could be neither read
        // nor replaced under it: leave it alone. ASCII names always can.
        if (!isAscii(entry.name) && QFile::encodeName(name) != QByteArrayView(entry.name)) {
            if (entry.kind == Kind::file || entry.kind == Kind::directory)
                m_out.notSynced.push_back(
                    {prefix + shownName(entry.name),
                     entry.kind == Kind::file
                         ? QCoreApplication::translate("LocalScanner", "The name is not valid UTF-8; rename the file to sync it")
                         : QCoreApplication::translate("LocalScanner", "The folder's name is not valid UTF-8; rename it to sync what it holds")});
            continue;
        }
        const QString path = prefix + name;
        if (entry.kind == Kind::downloadTemporary) {
            m_out.downloadTemporaries.append(path.mid(m_root.size()));
            continue;
        }
        if (entry.kind == Kind::file) {
            const QString known = m_knownPath ? m_knownPath(path) : QString();
            m_out.files.push_back({known.isNull() ? path : known, name, entry.facts});
        } else if (entry.kind == Kind::directory)
            descend(::dirfd(dir), entry.name, path);
        if (entry.kind != Kind::file && m_ancestors.size() == 1)
            m_out.topLevelOthers.insert(name);
    }
    m_ancestors.pop_back();
    return complete;
}

bool Walker::readEntries(DIR *dir, std::vector<Entry> &entries)
{
    const int fd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent *ent = ::readdir(dir);
        if (!ent)
            return errno == 0;
        const std::string_view name(ent->d_name);
        // Covers "." and "..", hidden files and everything inside hidden
        // directories; this program's own download temporaries are noted.
        if (name.starts_with('.')) {
            if (name.starts_with(downloadTemporaryPrefix) && (ent->d_type == DT_REG || ent->d_type == DT_UNKNOWN))
                entries.push_back({std::string(name), Kind::downloadTemporary, {}});
            continue;
        }
        if (ent->d_type == DT_DIR) {
            entries.push_back({std::string(name), Kind::directory, {}});
            continue;
        }
        if ((ent->d_type == DT_REG || ent->d_type == DT_UNKNOWN) && isIgnoredBytes(name))
            continue;
        // One stat per file gives the facts that spare reading unchanged
        // files (and the type where the file system does not report it).
        struct stat st;
        if (::fstatat(fd, ent->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone since it was listed
        if (S_ISREG(st.st_mode)) {
            if (!isIgnoredBytes(name))
                entries.push_back({std::string(name), Kind::file, factsOf(st, m_takenNs)});
        } else if (S_ISDIR(st.st_mode)) {
            entries.push_back({std::string(name), Kind::directory, {}});
        } else {
            // Symbolic links, devices, sockets and pipes are not synced.
            entries.push_back({std::string(name), Kind::other, {}});
        }
    }
}

void Walker::descend(int parentFd, const std::string &name, const QString &path)
{
    const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // Gone, or replaced by a link or a file since it was listed: there is
        // nothing of the folder to list there.
        if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR)
            return;
        m_out.unreadableDirectories.append(path);
        return;
    }
    struct stat st;
    if (::fstat(fd, &st) == 0
        && std::find(m_ancestors.begin(), m_ancestors.end(), std::pair(st.st_dev, st.st_ino)) != m_ancestors.end()) {
        ::close(fd);
        m_out.unreadableDirectories.append(path);
        return;
    }
    // Another file system mounted here: remembered, so that the files below
    // it are not taken as removed while it is unmounted.
    if (st.st_dev != m_ancestors.back().first)
        m_out.mountPoints.append(path.mid(m_root.size()));
    if (!walk(fd, path + QLatin1Char('/')))
        m_out.unreadableDirectories.append(path);
}

} // namespace

bool isIgnoredName(const QString &name)
{
    const QByteArray utf8 = name.toUtf8();
    return isIgnoredBytes(std::string_view(utf8.constData(), size_t(utf8.size())));
}

namespace {

// The folder's path with the slash every listed path starts with.
QString prefixOf(const FolderAccess &folder)
{
    const QString root = folder.path();
    return root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
}

// Mount points known from before with nothing mounted now (or gone): what
// was below them is not known to be removed.
void noteNotMounted(Listing &listing, const QString &prefix, const QStringList &knownMountPoints)
{
    for (const QString &mountPoint : knownMountPoints) {
        if (listing.mountPoints.contains(mountPoint))
            continue;
        const QString path = prefix + mountPoint;
        listing.notMounted.append(mountPoint);
        listing.unreadableDirectories.append(path);
        listing.notSynced.push_back(
            {path, QCoreApplication::translate("LocalScanner", "Not mounted: the files below %1 are left as they are until it is mounted again")
                       .arg(mountPoint)});
    }
}

} // namespace

Listing scanLocalFiles(const FolderAccess &folder, const QStringList &knownMountPoints, const KnownPath &knownPath)
{
    Listing listing;
    const int fd = folder.openForListing();
    if (fd < 0)
        return listing;
    const QString prefix = prefixOf(folder);
    Walker walker(listing, prefix, knownPath);
    if (!walker.walk(fd, prefix)) {
        // A folder that could not be read whole must not look like one whose
        // files were removed.
        return Listing{};
    }
    listing.readable = true;
    noteNotMounted(listing, prefix, knownMountPoints);
    return listing;
}

void adoptKnown(Listing &listing, const FolderAccess &folder, const QStringList &knownMountPoints,
                const KnownPath &knownPath)
{
    for (LocalFile &file : listing.files)
        if (QString known = knownPath(file.path); !known.isNull())
            file.path = std::move(known);
    noteNotMounted(listing, prefixOf(folder), knownMountPoints);
}

Listing scanLocalFiles(const QString &folderPath)
{
    if (folderPath.isEmpty())
        return {};
    try {
        // The watched folder itself may be reached through a link the user
        // chose; only what lies inside it is walked without following links.
        return scanLocalFiles(FolderAccess(folderPath));
    } catch (const std::exception &) {
        return {};
    }
}

Absence classifyUnlisted(const FolderAccess &folder, const QString &path)
{
    const std::optional<QString> relative = folder.relativePathOf(path);
    if (!relative)
        return Absence::crossesLink;
    try {
        return folder.facts(*relative).exists ? Absence::present : Absence::gone;
    } catch (const CrossesLinkError &) {
        return Absence::crossesLink;
    } catch (const std::exception &) {
        return Absence::present; // cannot be examined now
    }
}

Absence classifyUnlisted(const QString &folderPath, const QString &path)
{
    try {
        return classifyUnlisted(FolderAccess(folderPath), path);
    } catch (const std::exception &) {
        return Absence::present; // the folder itself cannot be examined now
    }
}

QString computeFileHash(const QString &filePath)
{
    const FdCloser closer{FileHash::openRegularFile(AT_FDCWD, QFile::encodeName(filePath), filePath)};
    return FileHash::sha256Of(closer.fd, filePath);
}

QDateTime fileModificationDate(const QString &filePath)
{
    struct stat st;
    if (::lstat(QFile::encodeName(filePath).constData(), &st) != 0)
        return QDateTime::currentDateTimeUtc();
    const qint64 msecs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

} // namespace LocalScanner
