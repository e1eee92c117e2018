// ListQuarantine over a folder holding 20261211T143501Z-1a2b3c4d.tsq,
// ~tsq0badf00d.tmp and notes.txt reads the first alone: only "<id>.tsq" names
// are entries, and one whose record does not parse, or names another id, is
// listed as damaged.
#include "quarantine/quarantine_store.h"

#include <algorithm>

#include "quarantine/sha256.h"

namespace {

bool EndsWith(std::u16string_view text, std::u16string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool StartsWith(std::u16string_view text, std::u16string_view head) {
    return text.size() >= head.size() && text.substr(0, head.size()) == head;
}

// The id of the entry file `name`; empty when it is no entry name.
std::u16string_view IdOfFile(std::u16string_view name) {
    const std::u16string_view ext = kEntryExtension;
    if (!EndsWith(name, ext)) return {};
    const std::u16string_view id = name.substr(0, name.size() - ext.size());
    return IsValidEntryId(id) ? id : std::u16string_view();
}

bool IsTemporaryName(std::u16string_view name) { return StartsWith(name, u"~tsq") && EndsWith(name, u".tmp"); }

}  // namespace

std::u16string QuarantineTemporaryName(std::u16string_view tag) {
    return u"~tsq" + std::u16string(tag) + u".tmp";
}

std::u16string EntryFileName(std::u16string_view id) { return std::u16string(id) + kEntryExtension; }

bool ListQuarantine(CQuarantineFiles& files, QuarantineListing& listing) {
    std::vector<std::u16string> names;
    if (!files.List(names)) return false;
    QuarantineListing found;
    for (const std::u16string& name : names) {
        const std::u16string_view id = IdOfFile(name);
        if (id.empty()) continue;
        const std::optional<std::vector<uint8_t>> bytes = files.Read(name);
        QuarantineEntry entry;
        if (bytes && ParseStoredEntry(bytes->data(), bytes->size(), entry) == StoredEntryError::kNone &&
            entry.id == id) {
            found.entries.push_back(std::move(entry));
        } else {
            found.damaged.push_back(name);
        }
    }
    std::sort(found.entries.begin(), found.entries.end(),
              [](const QuarantineEntry& a, const QuarantineEntry& b) { return a.id < b.id; });
    std::sort(found.damaged.begin(), found.damaged.end());
    listing = std::move(found);
    return true;
}

RestoreResult RestoreQuarantined(CQuarantineFiles& files, std::u16string_view id, QuarantineEntry& entry) {
    if (!IsValidEntryId(id)) return RestoreResult::kNoEntry;
    const std::u16string name = EntryFileName(id);
    const std::optional<std::vector<uint8_t>> bytes = files.Read(name);
    if (!bytes) return RestoreResult::kNoEntry;
    QuarantineEntry record;
    std::vector<uint8_t> content;
    if (DecodeStoredEntry(bytes->data(), bytes->size(), record, content) != StoredEntryError::kNone) {
        // The record alone, when it parses, still tells where the file was.
        if (ParseStoredEntry(bytes->data(), bytes->size(), record) == StoredEntryError::kNone) entry = record;
        return RestoreResult::kDamaged;
    }
    entry = record;
    if (record.id != id) return RestoreResult::kDamaged;
    switch (files.Place(record.originalPath, content)) {
        case CQuarantineFiles::PlaceResult::kPlaced: break;
        case CQuarantineFiles::PlaceResult::kExists: return RestoreResult::kExists;
        case CQuarantineFiles::PlaceResult::kLinked: return RestoreResult::kLinked;
        case CQuarantineFiles::PlaceResult::kFailed: return RestoreResult::kFailed;
    }
    files.Remove(name);
    return RestoreResult::kRestored;
}

PurgeCount PurgeQuarantine(CQuarantineFiles& files) {
    PurgeCount count;
    std::vector<std::u16string> names;
    if (!files.List(names)) return count;
    for (const std::u16string& name : names) {
        if (!IdOfFile(name).empty()) {
            ++(files.Remove(name) ? count.removed : count.failed);
        } else if (IsTemporaryName(name)) {
            files.Remove(name);
        }
    }
    return count;
}

std::optional<QuarantineEntry> KeepBytes(CQuarantineFiles& files, const std::vector<uint8_t>& content,
                                         std::u16string_view path, std::u16string_view family,
                                         std::u16string_view action, const UtcTime& time,
                                         std::u16string_view tag) {
    QuarantineEntry entry;
    entry.id = NewEntryId(time, tag);
    entry.originalPath = path;
    entry.time = EntryTime(time);
    entry.family = family;
    entry.action = action;
    entry.sha256 = Sha256Hex(content.data(), content.size());
    entry.size = content.size();
    const std::optional<std::vector<uint8_t>> stored = EncodeStoredEntry(entry, content.data(), content.size());
    if (!stored || !files.Create(EntryFileName(entry.id), *stored)) return std::nullopt;
    return entry;
}
