#pragma once

// What the Notes store targets share: an input's first byte picks how the rest is used. Even,
// as the stored bytes themselves; odd, as the data before the store gzipped it, gzipped here,
// so that the fuzzer reaches the parsers without having to forge gzip checksums.

#include "FuzzSupport.h"
#include "conversion/support/notes_store_fixture.h"

#include <optional>

namespace NCFuzz {

// Nothing for an empty input.
inline std::optional<QByteArray> storedData(const uint8_t* data, size_t size) {
    environment();
    if (size == 0)
        return std::nullopt;
    QByteArray stored = bytes(data + 1, size - 1);
    if (data[0] & 1)
        stored = NotesStoreFixture::gzip(stored);
    return stored;
}

} // namespace NCFuzz
