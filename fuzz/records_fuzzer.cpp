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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    decodeAs<UserInfo>(body);
    decodeAs<LoginResponse>(body);
    decodeAs<LogoutResponse>(body);
    decodeAs<ErrorResponse>(body);
    decodeAs<DocumentResponse>(body);
    decodeAs<SyncDocument>(body);
    decodeAs<SyncFolder>(body);
    decodeAs<SyncStatusResponse>(body);
    decodeAs<FolderResponse>(body);
    decodeAs<std::vector<FolderResponse>>(body);
    decodeAs<DownloadResponse>(body);
    decodeAs<DeleteResponse>(body);
    return 0;
}
