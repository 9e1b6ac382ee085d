#pragma once

#include <QString>
#include <utility>

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

} // namespace descriptors
