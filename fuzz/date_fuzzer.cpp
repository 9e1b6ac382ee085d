// The server's date texts: a time read lies within the years 1 to 9999 and
// reads back from its own UTC form.
#include "FuzzCheck.h"
#include "sync/ConflictDates.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<QDateTime> time = ConflictDates::parseInternetDateTime(text);
    if (!time)
        return 0;
    FUZZ_CHECK(time->isValid());
    FUZZ_CHECK(*time >= ConflictDates::distantPast());
    FUZZ_CHECK(*time <= ConflictDates::distantFuture());
    const QString utc = time->toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
    FUZZ_CHECK(ConflictDates::parseInternetDateTime(utc) == time);
    return 0;
}
