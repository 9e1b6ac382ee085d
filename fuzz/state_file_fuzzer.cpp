// The sync state file after a crash or a hand edit: whatever decodes
// encodes, and decodes again to the same state.
#include "FuzzCheck.h"
#include "sync/SyncState.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<SyncState> state = SyncState::decode(bytes);
    if (!state)
        return 0;
    const QByteArray encoded = state->encode();
    FUZZ_CHECK(!encoded.isEmpty());
    const std::optional<SyncState> again = SyncState::decode(encoded);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *state);
    FUZZ_CHECK(again->encode() == encoded);
    return 0;
}
