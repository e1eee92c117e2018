// The quarantine folder as the analyst tool and the tests see it: listing,
// restoring and purging entries, over the few file operations a folder needs
// (CQuarantineFiles: quarantine_files_win.cpp on Windows, quarantine_files_std.cpp
// elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "quarantine/quarantine.h"
#include "quarantine/stored_entry.h"

// The files of one quarantine folder, by name inside it, and the places
// entries are restored to, by full path.
class CQuarantineFiles {
public:
    enum class PlaceResult { kPlaced, kExists, kLinked, kFailed };

    virtual ~CQuarantineFiles() = default;
    // The names of the files directly in the folder (no folders): none when
    // the folder is missing; false when it is there but cannot be listed.
    virtual bool List(std::vector<std::u16string>& names) = 0;
    // The content of the file `name`; nothing when it cannot be read.
    virtual std::optional<std::vector<uint8_t>> Read(std::u16string_view name) = 0;
    // Stores `bytes` as the file `name`, creating the folder when missing:
    // written to a temporary (QuarantineTemporaryName) and renamed, never
    // replacing a file. False when it could not (nothing left behind).
    virtual bool Create(std::u16string_view name, const std::vector<uint8_t>& bytes) = 0;
    // Deletes the file `name`; false when it is still there.
    virtual bool Remove(std::u16string_view name) = 0;
    // Writes `bytes` as a new file at the full path `path`: to a temporary
    // beside it, then renamed without replacing. kExists, nothing written,
    // when something is at `path`; kLinked, nothing written, when a folder of
    // `path` is a link (it may lead anywhere by now); kFailed (nothing left
    // behind) otherwise.
    virtual PlaceResult Place(const std::u16string& path, const std::vector<uint8_t>& bytes) = 0;
};

// The files of `folder` (a full path) through the system's file functions.
std::unique_ptr<CQuarantineFiles> OpenQuarantineFiles(const std::u16string& folder);
// Eight hexadecimal digits, different at every call, for new entry ids.
std::u16string FreshEntryTag();

// The name of a temporary in the quarantine folder, for the random `tag`:
// "~tsq1a2b3c4d.tmp". Purging removes leftovers of these as well.
std::u16string QuarantineTemporaryName(std::u16string_view tag);
// The entry name "<id>.tsq".
std::u16string EntryFileName(std::u16string_view id);

struct QuarantineListing {
    std::vector<QuarantineEntry> entries;  // sorted by id
    std::vector<std::u16string> damaged;   // names of .tsq files that do not parse, sorted
};
// Every entry of the folder; false when the folder cannot be listed.
bool ListQuarantine(CQuarantineFiles& files, QuarantineListing& listing);

enum class RestoreResult {
    kRestored,  // the original is back at its path and the entry gone
    kExists,    // something is at the original path: both left as they are
    kLinked,    // a folder of the original path is a link: nothing written
    kNoEntry,   // no entry `id` (or `id` is no entry name)
    kDamaged,   // the entry does not decode to bytes of its recorded sha256
    kFailed,    // the original could not be written
};
// Puts entry `id` back at its original path. `entry` receives its record
// whenever the entry decodes.
RestoreResult RestoreQuarantined(CQuarantineFiles& files, std::u16string_view id, QuarantineEntry& entry);

struct PurgeCount {
    std::size_t removed = 0;  // entries deleted
    std::size_t failed = 0;   // entries still there
};
// Deletes every entry (and leftover temporaries) of the folder.
PurgeCount PurgeQuarantine(CQuarantineFiles& files);

// Keeps `content`, the bytes of the file at `path`, as a new entry with the
// random `tag` in its id. Nothing when the entry cannot be stored.
std::optional<QuarantineEntry> KeepBytes(CQuarantineFiles& files, const std::vector<uint8_t>& content,
                                         std::u16string_view path, std::u16string_view family,
                                         std::u16string_view action, const UtcTime& time,
                                         std::u16string_view tag);
