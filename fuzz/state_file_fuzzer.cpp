// The sync state file after a crash or a hand edit: whatever decodes
// encodes, and decodes again to the same state; read as a stream, as the
// client reads its file, it decodes the same.
#include "FuzzCheck.h"
#include "sync/SyncState.h"

#include <cstddef>
#include <cstdint>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<SyncState> state = SyncState::decode(bytes);
    std::istringstream stream(std::string(reinterpret_cast<const char *>(data), size));
    const std::optional<SyncState> streamed = SyncState::decode(stream);
    FUZZ_CHECK(streamed.has_value() == state.has_value());
    if (!state)
        return 0;
    FUZZ_CHECK(*streamed == *state);
    const QByteArray encoded = state->encode();
    FUZZ_CHECK(!encoded.isEmpty());
    const std::optional<SyncState> again = SyncState::decode(encoded);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(*again == *state);
    FUZZ_CHECK(again->encode() == encoded);
    return 0;
}
