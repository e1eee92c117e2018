// The entry 20261211T143501Z-1a2b3c4d.tsq for C:\WINDOWS\evil.exe (1024 bytes):
//   "TESMORAQ" 01 00 00 00 <record length, 4 bytes LE>
//   id=20261211T143501Z-1a2b3c4d\n path=C:\WINDOWS\evil.exe\n time=2026-12-11T14:35:01Z\n
//   family=W32/Stanit.A\n action=delete\n sha256=<64 digits>\n size=1024\n
//   <1024 bytes, each XORed with the next byte of the id's keystream>
// The keystream is xorshift64* seeded with a hash of the id: no secret, only a
// guarantee that no byte run of the original (an MZ header, a signature) is
// stored as it was.
#include "quarantine/stored_entry.h"

#include <cstring>

#include "common/text16.h"
#include "quarantine/sha256.h"

namespace {

constexpr char kMagic[8] = {'T', 'E', 'S', 'M', 'O', 'R', 'A', 'Q'};
constexpr const char* kKeys[] = {"id", "path", "time", "family", "action", "sha256", "size"};
constexpr int kKeyCount = 7;

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

uint32_t Get32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// No control characters: they would end a record line or a column of the list.
bool FreeOfControls(std::u16string_view text) {
    for (char16_t c : text) {
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

// `text` survives the trip through UTF-8 unchanged (no lone surrogate).
bool Utf8Safe(std::u16string_view text) { return Utf8ToUtf16(Utf16ToUtf8(text)) == text; }

bool IsEntryTime(std::u16string_view t) {
    // YYYY-MM-DDTHH:MM:SSZ
    static const char kShape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (t.size() != sizeof kShape - 1) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (kShape[i] == 'd' ? !IsDigit(t[i]) : t[i] != static_cast<char16_t>(kShape[i])) return false;
    }
    return true;
}

bool IsDigest(std::string_view hex) {
    if (hex.size() != 64) return false;
    for (char c : hex) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

bool IsAction(std::u16string_view action) {
    if (action.empty() || action.size() > kMaxEntryAction) return false;
    for (char16_t c : action) {
        if (!((c >= u'a' && c <= u'z') || c == u'-')) return false;
    }
    return true;
}

bool ValidEntry(const QuarantineEntry& e) {
    return IsValidEntryId(e.id) && !e.originalPath.empty() && e.originalPath.size() <= kMaxEntryPath &&
           FreeOfControls(e.originalPath) && Utf8Safe(e.originalPath) && IsEntryTime(e.time) &&
           e.family.size() <= kMaxEntryFamily && FreeOfControls(e.family) && Utf8Safe(e.family) &&
           IsAction(e.action) && IsDigest(e.sha256);
}

// A decimal number without sign or leading zeros that fits 64 bits.
bool ParseSize(std::string_view text, uint64_t& value) {
    if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (UINT64_MAX - digit) / 10) return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

uint64_t SeedOf(std::u16string_view id) {
    uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a over the UTF-16 units
    for (char16_t c : id) {
        h = (h ^ (c & 0xFF)) * 0x100000001b3ull;
        h = (h ^ (c >> 8)) * 0x100000001b3ull;
    }
    // splitmix64's finalizer spreads it; xorshift needs a state other than 0.
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
    h ^= h >> 31;
    return h != 0 ? h : 0x9e3779b97f4a7c15ull;
}

// The record, header and content length checked; `contentAt` is where the content starts.
StoredEntryError ParseHead(const uint8_t* data, std::size_t size, QuarantineEntry& out, std::size_t& contentAt) {
    if (size < kEntryHeaderSize) return size >= 8 && std::memcmp(data, kMagic, 8) != 0
                                             ? StoredEntryError::kBadMagic
                                             : StoredEntryError::kTruncated;
    if (std::memcmp(data, kMagic, 8) != 0) return StoredEntryError::kBadMagic;
    if (data[8] != (kEntryFormatVersion & 0xFF) || data[9] != (kEntryFormatVersion >> 8) || data[10] != 0 ||
        data[11] != 0) {
        return StoredEntryError::kBadVersion;
    }
    const uint32_t recordSize = Get32(data + 12);
    if (recordSize > kMaxEntryRecord) return StoredEntryError::kBadRecord;
    if (recordSize > size - kEntryHeaderSize) return StoredEntryError::kTruncated;
    const std::string_view record(reinterpret_cast<const char*>(data + kEntryHeaderSize), recordSize);
    if (!record.empty() && record.back() != '\n') return StoredEntryError::kBadRecord;

    std::string_view values[kKeyCount];
    bool seen[kKeyCount] = {};
    for (std::size_t at = 0; at < record.size();) {
        const std::size_t end = record.find('\n', at);
        const std::string_view line = record.substr(at, end - at);
        at = end + 1;
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return StoredEntryError::kBadRecord;
        const std::string_view key = line.substr(0, eq);
        int k = 0;
        while (k < kKeyCount && key != kKeys[k]) ++k;
        if (k == kKeyCount || seen[k]) return StoredEntryError::kBadRecord;
        seen[k] = true;
        values[k] = line.substr(eq + 1);
    }
    for (bool s : seen) {
        if (!s) return StoredEntryError::kMissingKey;
    }
    for (const std::string_view& v : values) {
        // Longer than any value StoredEntryHead writes, before converting it.
        if (v.size() > 3 * kMaxEntryPath) return StoredEntryError::kBadValue;
    }
    QuarantineEntry e;
    e.id = Utf8ToUtf16(values[0]);
    e.originalPath = Utf8ToUtf16(values[1]);
    e.time = Utf8ToUtf16(values[2]);
    e.family = Utf8ToUtf16(values[3]);
    e.action = Utf8ToUtf16(values[4]);
    e.sha256 = std::string(values[5]);
    // Invalid UTF-8 turned into U+FFFD would not convert back to the same bytes.
    for (int k = 0; k < 5; ++k) {
        const std::u16string* text[] = {&e.id, &e.originalPath, &e.time, &e.family, &e.action};
        if (Utf16ToUtf8(*text[k]) != values[k]) return StoredEntryError::kBadValue;
    }
    if (!ParseSize(values[6], e.size) || !ValidEntry(e)) return StoredEntryError::kBadValue;
    const std::size_t headEnd = kEntryHeaderSize + recordSize;
    if (e.size != size - headEnd) return StoredEntryError::kSizeMismatch;
    out = std::move(e);
    contentAt = headEnd;
    return StoredEntryError::kNone;
}

}  // namespace

std::u16string EntryTime(const UtcTime& t) { return AsciiToUtf16(IsoUtcText(t)); }

std::u16string NewEntryId(const UtcTime& t, std::u16string_view tag) {
    return Format16(u"%04d%02d%02dT%02d%02d%02dZ-%s", {t.year, t.month, t.day, t.hour, t.minute, t.second, tag});
}

bool IsValidEntryId(std::u16string_view id) {
    if (id.empty() || id.size() > kMaxEntryId) return false;
    for (char16_t c : id) {
        if (!(IsDigit(c) || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-')) return false;
    }
    return true;
}

std::optional<std::vector<uint8_t>> StoredEntryHead(const QuarantineEntry& entry) {
    if (!ValidEntry(entry)) return std::nullopt;
    std::string record;
    auto line = [&record](const char* key, const std::string& value) {
        record += key;
        record += '=';
        record += value;
        record += '\n';
    };
    line("id", Utf16ToUtf8(entry.id));
    line("path", Utf16ToUtf8(entry.originalPath));
    line("time", Utf16ToUtf8(entry.time));
    line("family", Utf16ToUtf8(entry.family));
    line("action", Utf16ToUtf8(entry.action));
    line("sha256", entry.sha256);
    line("size", std::to_string(entry.size));
    if (record.size() > kMaxEntryRecord) return std::nullopt;
    std::vector<uint8_t> head(kMagic, kMagic + 8);
    Put16(head, kEntryFormatVersion);
    Put16(head, 0);
    Put16(head, static_cast<uint32_t>(record.size()) & 0xFFFF);
    Put16(head, static_cast<uint32_t>(record.size()) >> 16);
    head.insert(head.end(), record.begin(), record.end());
    return head;
}

CEntryKeystream::CEntryKeystream(std::u16string_view id) : state_(SeedOf(id)) {}

void CEntryKeystream::Apply(uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (used_ == 8) {
            state_ ^= state_ >> 12;
            state_ ^= state_ << 25;
            state_ ^= state_ >> 27;
            word_ = state_ * 0x2545F4914F6CDD1Dull;
            used_ = 0;
        }
        data[i] ^= static_cast<uint8_t>(word_ >> (8 * used_++));
    }
}

std::optional<std::vector<uint8_t>> EncodeStoredEntry(const QuarantineEntry& entry, const uint8_t* content,
                                                      std::size_t size) {
    if (entry.size != size || entry.sha256 != Sha256Hex(content, size)) return std::nullopt;
    std::optional<std::vector<uint8_t>> stored = StoredEntryHead(entry);
    if (!stored) return std::nullopt;
    const std::size_t at = stored->size();
    if (size != 0) stored->insert(stored->end(), content, content + size);
    CEntryKeystream(entry.id).Apply(stored->data() + at, size);
    return stored;
}

const char* StoredEntryErrorText(StoredEntryError error) {
    switch (error) {
        case StoredEntryError::kNone: return "no error";
        case StoredEntryError::kTruncated: return "truncated";
        case StoredEntryError::kBadMagic: return "not a quarantine entry";
        case StoredEntryError::kBadVersion: return "unknown format version";
        case StoredEntryError::kBadRecord: return "malformed record";
        case StoredEntryError::kMissingKey: return "record incomplete";
        case StoredEntryError::kBadValue: return "bad value in record";
        case StoredEntryError::kSizeMismatch: return "content size differs from record";
        case StoredEntryError::kHashMismatch: return "content differs from its SHA-256";
    }
    return "unknown error";
}

StoredEntryError ParseStoredEntry(const uint8_t* data, std::size_t size, QuarantineEntry& entry) {
    std::size_t contentAt = 0;
    return ParseHead(data, size, entry, contentAt);
}

StoredEntryError DecodeStoredEntry(const uint8_t* data, std::size_t size, QuarantineEntry& entry,
                                   std::vector<uint8_t>& content) {
    QuarantineEntry e;
    std::size_t contentAt = 0;
    const StoredEntryError error = ParseHead(data, size, e, contentAt);
    if (error != StoredEntryError::kNone) return error;
    std::vector<uint8_t> bytes(data + contentAt, data + size);
    CEntryKeystream(e.id).Apply(bytes.data(), bytes.size());
    if (Sha256Hex(bytes.data(), bytes.size()) != e.sha256) return StoredEntryError::kHashMismatch;
    entry = std::move(e);
    content = std::move(bytes);
    return StoredEntryError::kNone;
}
