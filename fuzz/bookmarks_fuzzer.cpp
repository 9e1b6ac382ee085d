// A watched folder's bookmark as stored in the preferences: it reads as an
// absolute path free of NULs, or not at all.
#include "FuzzCheck.h"
#include "platform/Bookmarks.h"

#include <QDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto read = Bookmarks::read(bytes);
    if (read) {
        FUZZ_CHECK(QDir::isAbsolutePath(read->path));
        FUZZ_CHECK(!read->path.contains(QChar(u'\0')));
    }
    // Resolving looks the path up; it never gives what reading refused.
    const auto resolved = Bookmarks::resolve(bytes);
    FUZZ_CHECK(!resolved || read);
    return 0;
}
