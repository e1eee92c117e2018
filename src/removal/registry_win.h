// Registry primitives of the script's registry actions and the Sober removers.
// Keys are named by a full root name (exact case) and a subkey path; every
// key is opened with KEY_ALL_ACCESS and closed on every path. Each change
// sets ScanStatistics::registryChanges to 1.
//
// On 64-bit Windows the registry has two views (KEY_WOW64_64KEY and
// KEY_WOW64_32KEY, differing below HKLM\Software and a few other keys):
// deletions, replacements and the Run entry cleaning act in both, one after
// the other, and count as done when done in either; a created key or value
// goes to the 64-bit view only. Elsewhere there is one view and no flag.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CScanController;
struct HKEY__;  // as <windows.h> declares HKEY

// The predefined key of a full root name, or null.
HKEY__* RootKeyFromName(const char16_t* name);

// A registry view: the program's own (no flag), or one of 64-bit Windows
// (the values of KEY_WOW64_64KEY and KEY_WOW64_32KEY).
enum class RegistryView : uint32_t { Own = 0, Bits64 = 0x0100, Bits32 = 0x0200 };
// The views the deletions and the cleaning visit: Bits64 and Bits32 on
// 64-bit Windows, else Own.
std::vector<RegistryView> CleaningViews();
// The view keys and values are created in: Bits64 on 64-bit Windows, else Own.
RegistryView CreationView();

struct RegistryValueRecord {
    char16_t name[260] = {};  // empty when the name did not fit
    uint32_t type = 0;
    // Up to 260 bytes as read, empty when they did not fit; two more zero
    // bytes always follow, so the data reads safely as a terminated text.
    uint8_t data[262] = {};
    uint32_t dataSize = 0;

    // The data up to its first zero unit, as UTF-16 text.
    std::u16string Text() const;
};

// The values of rootName\subkey in `view`, in listing order; empty with
// count 0 when the root is unknown, the key cannot be opened, has no values,
// or a value could not be listed.
std::vector<RegistryValueRecord> EnumerateValues(const char16_t* rootName, const char16_t* subkey,
                                                 uint32_t& count, RegistryView view = RegistryView::Own);
// The direct subkeys of a root key (names of at most 259 units); empty with
// count 0 on any failure.
std::vector<std::u16string> EnumerateSubkeys(const char16_t* rootName, uint32_t& count);

enum class DeleteValueResult : int {
    KeyNotOpened = -1,  // unknown root, key not opened (or not closed) in any view
    Failed = 0,         // the key opened, the value was deleted in no view
    Deleted = 1,        // deleted in at least one view
};
enum class DeleteKeyResult : int {
    Failed = 0,  // deleted in no view: absent there, or has subkeys of its own
    Deleted = 1,  // deleted in at least one view
    UnknownRoot = 5,
};
enum class CreateKeyResult : int {
    Created = 1,
    Failed = 2,
    BadArgument = 5,  // unknown root name, or no subkey
    AlreadyExisted = 6,
};
enum class ChangeValueResult : int {
    Changed = 1,
    NotChanged = 2,
    BadArgument = 5,  // unknown root, or no value name (or no subkey: replace)
};

[[nodiscard]] DeleteValueResult DeleteRegistryValue(CScanController& controller, const char16_t* rootName,
                                                    const char16_t* subkey, const char16_t* valueName);
[[nodiscard]] DeleteKeyResult DeleteRegistryKey(CScanController& controller, const char16_t* rootName,
                                                const char16_t* subkey);
// Creates the key in the creation view.
[[nodiscard]] CreateKeyResult CreateRegistryKey(CScanController& controller, const char16_t* rootName,
                                                const char16_t* subkey);
// REG_SZ: the current text must equal oldData and differ from newData, both
// ignoring letter case. REG_DWORD: both must be decimal digits only, the
// current number equal to old and differ from new. Other types: NotChanged.
// Changed when changed in at least one view.
[[nodiscard]] ChangeValueResult ReplaceRegistryValue(CScanController& controller, const char16_t* rootName,
                                                     const char16_t* subkey, const char16_t* valueName,
                                                     const char16_t* oldData, const char16_t* newData);
// Writes a new value in the creation view; an existing one there (name in
// any letter case) is never overwritten. typeName "SZ" (or null), "DWORD" or
// "BINARY" (hex digit pairs).
[[nodiscard]] ChangeValueResult SetRegistryValue(CScanController& controller, const char16_t* rootName,
                                                 const char16_t* subkey, const char16_t* valueName,
                                                 const char16_t* typeName, const char16_t* data);

enum class RunEntriesResult : int {
    Finished = 1,
    Stopped = 2,  // empty text, a deletion failed, or HKEY_USERS not listed
};
// Deletes the REG_SZ values of the six Run keys of HKEY_LOCAL_MACHINE, then
// of every HKEY_USERS subkey, whose data contains `text` ignoring letter case;
// each key in every view of CleaningViews.
[[nodiscard]] RunEntriesResult RemoveRunEntries(CScanController& controller, const char16_t* text);
// The same for the Run and RunOnce keys of HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER; failures are ignored and every key is visited.
void CleanSoberRunEntries(CScanController& controller, const char16_t* text);
