#include "sync/LocalScanner.h"

#include "platform/FileHash.h"

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

FileFacts factsOf(const struct stat &st)
{
    return FileFacts{qint64(st.st_size), qint64(st.st_ino),
                     qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                     qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

// Walks a folder below an open directory descriptor. Every step is relative
// to its parent's descriptor and never follows a symbolic link, so nothing
// outside the folder is visited even when links point out of it or a
// directory is swapped for a link during the scan.
class Walker {
public:
    explicit Walker(Listing &out) : m_out(out) {}

    // Lists the directory open at `fd` (taking ownership of it) whose path,
    // ending in a slash, is `prefix`. False when it could not be read whole.
    bool walk(int fd, const QString &prefix);

private:
    enum class Kind { file, directory, other };
    struct Entry {
        std::string name;
        Kind kind;
        FileFacts facts;
    };

    bool readEntries(DIR *dir, std::vector<Entry> &entries);
    void descend(int parentFd, const std::string &name, const QString &path);

    Listing &m_out;
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
        if (!isAscii(entry.name) && QFile::encodeName(name) != QByteArrayView(entry.name))
            continue;
        const QString path = prefix + name;
        if (entry.kind == Kind::file)
            m_out.files.push_back({path, name, entry.facts});
        else if (entry.kind == Kind::directory)
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
        // directories.
        if (name.starts_with('.'))
            continue;
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
                entries.push_back({std::string(name), Kind::file, factsOf(st)});
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
    if (!walk(fd, path + QLatin1Char('/')))
        m_out.unreadableDirectories.append(path);
}

} // namespace

bool isIgnoredName(const QString &name)
{
    const QByteArray utf8 = name.toUtf8();
    return isIgnoredBytes(std::string_view(utf8.constData(), size_t(utf8.size())));
}

Listing scanLocalFiles(const QString &folderPath)
{
    Listing listing;
    if (folderPath.isEmpty())
        return listing;
    const QString root = QFileInfo(folderPath).absoluteFilePath();
    // The watched folder itself may be reached through a link the user chose;
    // only what lies inside it is walked without following links.
    const int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return listing;
    Walker walker(listing);
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (!walker.walk(fd, prefix)) {
        // A folder that could not be read whole must not look like one whose
        // files were removed.
        return Listing{};
    }
    listing.readable = true;
    return listing;
}

Absence classifyUnlisted(const QString &folderPath, const QString &path)
{
    const QString prefix = folderPath.endsWith(QLatin1Char('/')) ? folderPath : folderPath + QLatin1Char('/');
    if (!path.startsWith(prefix))
        return Absence::crossesLink;
    const QStringList parts = path.mid(prefix.size()).split(QLatin1Char('/'));
    int fd = ::open(QFile::encodeName(folderPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Absence::present; // the folder itself cannot be examined now
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        const int next = ::openat(fd, QFile::encodeName(parts[i]).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        if (next < 0) {
            if (error == ENOENT)
                return Absence::gone;
            if (error == ELOOP || error == ENOTDIR)
                return Absence::crossesLink;
            return Absence::present;
        }
        fd = next;
    }
    struct stat st;
    const int result = ::fstatat(fd, QFile::encodeName(parts.last()).constData(), &st, AT_SYMLINK_NOFOLLOW);
    const int error = errno;
    ::close(fd);
    if (result != 0 && (error == ENOENT || error == ENOTDIR))
        return Absence::gone;
    return Absence::present;
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
