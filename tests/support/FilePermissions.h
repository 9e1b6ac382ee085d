#pragma once

// Root passes every permission check on files, so tests of unreadable or
// read-only folders would prove nothing when run as root (as CI does).
// While this lives, the calling thread loses the capabilities that override
// file permissions, and gets them back afterwards; for an ordinary user it
// does nothing. Capabilities belong to a thread: only work done on the
// thread that made it is affected.
namespace testsupport {

class PermissionsApply {
public:
    PermissionsApply();
    ~PermissionsApply();
    PermissionsApply(const PermissionsApply &) = delete;
    PermissionsApply &operator=(const PermissionsApply &) = delete;

    // False when the permissions could not be made to apply.
    bool active() const { return m_active; }

private:
    bool m_active = false;
    bool m_dropped = false;
    unsigned m_savedEffective[2] = {0, 0};
};

} // namespace testsupport
