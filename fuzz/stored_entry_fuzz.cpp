// Arbitrary bytes as a stored quarantine entry: parsing never crashes, the
// record-only parse agrees with the full decode, and an entry that decodes
// encodes again to one that decodes to the same record and bytes. The same
// bytes as a file's content survive the round trip through the stored form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "quarantine/sha256.h"
#include "quarantine/stored_entry.h"

namespace {

bool SameRecord(const QuarantineEntry& a, const QuarantineEntry& b) {
    return a.id == b.id && a.originalPath == b.originalPath && a.time == b.time && a.family == b.family &&
           a.action == b.action && a.sha256 == b.sha256 && a.size == b.size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QuarantineEntry parsed;
    const StoredEntryError parseError = ParseStoredEntry(data, size, parsed);
    QuarantineEntry decoded;
    std::vector<uint8_t> content;
    const StoredEntryError decodeError = DecodeStoredEntry(data, size, decoded, content);
    if (decodeError != parseError && !(parseError == StoredEntryError::kNone &&
                                       decodeError == StoredEntryError::kHashMismatch)) {
        std::abort();
    }
    if (decodeError == StoredEntryError::kNone) {
        if (!SameRecord(parsed, decoded) || content.size() != decoded.size) std::abort();
        const std::optional<std::vector<uint8_t>> again = EncodeStoredEntry(decoded, content.data(), content.size());
        QuarantineEntry second;
        std::vector<uint8_t> secondContent;
        if (!again ||
            DecodeStoredEntry(again->data(), again->size(), second, secondContent) != StoredEntryError::kNone ||
            !SameRecord(decoded, second) || secondContent != content) {
            std::abort();
        }
    }

    QuarantineEntry entry;
    entry.id = u"20261211T143501Z-1a2b3c4d";
    entry.originalPath = u"C:\\WINDOWS\\evil.exe";
    entry.time = u"2026-12-11T14:35:01Z";
    entry.family = u"W32/Stanit.A";
    entry.action = u"repair";
    entry.sha256 = Sha256Hex(data, size);
    entry.size = size;
    const std::optional<std::vector<uint8_t>> stored = EncodeStoredEntry(entry, data, size);
    QuarantineEntry back;
    std::vector<uint8_t> backContent;
    if (!stored || DecodeStoredEntry(stored->data(), stored->size(), back, backContent) != StoredEntryError::kNone ||
        !SameRecord(entry, back) || backContent != std::vector<uint8_t>(data, data + size)) {
        std::abort();
    }
    return 0;
}
