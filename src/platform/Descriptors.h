#pragma once

#include <QString>
#include <utility>

#include <ctime>

struct statfs;

// Small pieces shared by the code that works below a folder's directory
// handle.
namespace descriptors {

// Owns one file descriptor and closes it.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset();

private:
    int m_fd = -1;
};

// Renames `from` in `fromDir` to `to` in `toDir` only if nothing is at `to`:
// 0 on success, else -1 with errno (EEXIST when the place is taken).
int renameNoReplace(int fromDir, const char *from, int toDir, const char *to);

// Flushes a file's bytes, or a directory's entries, to disk: 0 or -1 with errno.
int syncToDisk(int fd);

QString cannot(const QString &what, const QString &path, int error);

// A file time as nanoseconds since 1970. A time too far from 1970 for 64
// bits (past the year 2262) is held at the largest (or smallest) count
// rather than wrapping round to the other end.
qint64 nanoseconds(const timespec &time);

// Now, in nanoseconds since 1970, by the clock the kernel stamps file
// times with: the coarse one, which lags the precise clock by up to a
// tick. A file written after this moment has a time at least this one.
qint64 fileClockNs();
// Now, by the precise clock: no file time the kernel gave so far is later.
qint64 preciseClockNs();

// File systems whose every change, whoever makes it, passes through this
// kernel. Network and FUSE file systems are not among them: another
// machine's edits there are never told, and their times come from
// elsewhere.
bool isLocalFileSystem(const struct statfs &info);

} // namespace descriptors
