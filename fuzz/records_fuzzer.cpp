// The service's answers: every record decodes its value or throws
// DecodingError, never anything else (an escaping exception aborts the run).
#include "api/Errors.h"
#include "api/Records.h"

#include <cstddef>
#include <cstdint>

namespace {

template <typename T>
void decodeAs(const QByteArray &body)
{
    try {
        (void)decodeBody<T>(body);
    } catch (const DecodingError &) {
    }
}

} // namespace

// The first byte chooses the record ('`' + 0 to 11, in the order below),
// the rest is the body: one decode per run keeps the run fast.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (data[0] % 12) {
    case 0: decodeAs<UserInfo>(body); break;
    case 1: decodeAs<LoginResponse>(body); break;
    case 2: decodeAs<LogoutResponse>(body); break;
    case 3: decodeAs<ErrorResponse>(body); break;
    case 4: decodeAs<DocumentResponse>(body); break;
    case 5: decodeAs<SyncDocument>(body); break;
    case 6: decodeAs<SyncFolder>(body); break;
    case 7: decodeAs<SyncStatusResponse>(body); break;
    case 8: decodeAs<FolderResponse>(body); break;
    case 9: decodeAs<std::vector<FolderResponse>>(body); break;
    case 10: decodeAs<DownloadResponse>(body); break;
    default: decodeAs<DeleteResponse>(body); break;
    }
    return 0;
}
