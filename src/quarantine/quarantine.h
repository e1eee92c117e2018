// The quarantine: a copy of every file the removal deletes, renames over or
// repairs, kept encoded (it cannot run, and scanners do not flag it) with a
// record of where it came from, so that an administrator can put it back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One kept file.
struct QuarantineEntry {
    std::u16string id;            // the entry's name in the quarantine folder
    std::u16string originalPath;  // where the file was
    std::u16string time;          // when it was kept, ISO 8601 UTC ("2026-12-11T14:35:01Z")
    std::u16string family;        // "Family.Variant" of the detection
    std::u16string action;        // what was about to change the file: "delete", "rename-over", "repair"
    std::string sha256;           // 64 lower-case hexadecimal digits of the original bytes
    uint64_t size = 0;            // bytes of the original
};

// What keeping a copy came to.
struct QuarantineOutcome {
    enum Kind {
        kAbsent,   // nothing to keep: no such file (or a folder)
        kKept,     // `entry` holds the copy
        kMissing,  // the file is there but no copy could be made (full disk, unreadable)
    } kind = kAbsent;
    QuarantineEntry entry;
};

// Where the removal keeps its copies. The removal asks for a copy before it
// changes a file and drops it again when the change did not happen.
class CQuarantine {
public:
    virtual ~CQuarantine() = default;
    // A copy of the file at `path` as it is now, before `action` changes it.
    virtual QuarantineOutcome Keep(std::u16string_view path, std::u16string_view family,
                                   std::u16string_view action) = 0;
    // Removes the entry `id` (kept for a change that did not happen).
    virtual void Discard(std::u16string_view id) = 0;
};
