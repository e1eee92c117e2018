// The stored form of a quarantine entry: one file <id>.tsq holding a header,
// the record as UTF-8 "key=value" lines, and the original bytes XORed with a
// keystream drawn from the id, so the file neither runs nor carries a byte
// sequence of the original (no MZ header, no signature).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/utc_time.h"
#include "quarantine/quarantine.h"

// The file name of entry `id` is id + kEntryExtension.
inline constexpr char16_t kEntryExtension[] = u".tsq";
// Bytes before the record: magic (8), format version (2), zero (2), record length (4).
inline constexpr std::size_t kEntryHeaderSize = 16;
inline constexpr uint16_t kEntryFormatVersion = 1;
// Longest record and values accepted.
inline constexpr std::size_t kMaxEntryRecord = 1 << 18;
inline constexpr std::size_t kMaxEntryPath = 32767;  // UTF-16 units
inline constexpr std::size_t kMaxEntryFamily = 256;
inline constexpr std::size_t kMaxEntryId = 64;
inline constexpr std::size_t kMaxEntryAction = 32;

// "2026-12-11T14:35:01Z" (IsoUtcText).
std::u16string EntryTime(const UtcTime& time);
// "20261211T143501Z-1a2b3c4d" for the random `tag` "1a2b3c4d".
std::u16string NewEntryId(const UtcTime& time, std::u16string_view tag);
// 1 to kMaxEntryId letters, digits and hyphens: a name that stays inside the
// quarantine folder.
bool IsValidEntryId(std::u16string_view id);

// The header and record of `entry` (all its fields set, sha256 and size of the
// content that follows); nothing when a value cannot be stored: a bad id, an
// empty or over-long path, a control character (CR, LF, TAB, NUL...) in any
// value, text that UTF-8 cannot carry (a lone surrogate), a time not of the
// EntryTime form, or a digest that is not 64 lower-case hexadecimal digits.
std::optional<std::vector<uint8_t>> StoredEntryHead(const QuarantineEntry& entry);

// The keystream of entry `id`, applied to the content in order, piece by piece.
class CEntryKeystream {
public:
    explicit CEntryKeystream(std::u16string_view id);
    void Apply(uint8_t* data, std::size_t size);

private:
    uint64_t state_;
    uint64_t word_ = 0;
    unsigned used_ = 8;  // bytes of word_ spent
};

// The whole stored form of `content`; nothing when StoredEntryHead refuses the
// entry or its size or sha256 is not that of `content`.
std::optional<std::vector<uint8_t>> EncodeStoredEntry(const QuarantineEntry& entry, const uint8_t* content,
                                                      std::size_t size);

enum class StoredEntryError {
    kNone,
    kTruncated,     // shorter than its header and record
    kBadMagic,      // not an entry at all
    kBadVersion,    // a format this program does not read
    kBadRecord,     // a line without '=' or final line break, an unknown or repeated key
    kMissingKey,    // a key of QuarantineEntry absent
    kBadValue,      // a value StoredEntryHead would refuse, or a size that is no number
    kSizeMismatch,  // content length differs from the recorded size
    kHashMismatch,  // decoded content differs from the recorded sha256
};
const char* StoredEntryErrorText(StoredEntryError error);

// The record of the stored entry `data` (the content is not decoded, only its
// length checked). `entry` is left alone on failure.
StoredEntryError ParseStoredEntry(const uint8_t* data, std::size_t size, QuarantineEntry& entry);
// The record and the original bytes, checked against the recorded sha256.
// `entry` and `content` are left alone on failure.
StoredEntryError DecodeStoredEntry(const uint8_t* data, std::size_t size, QuarantineEntry& entry,
                                   std::vector<uint8_t>& content);
