// RemoveRunEntries(controller, "C:\WINDOWS\d.exe") lists
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run (then
// RunOnce ... RunServicesOnceEx, then the same below every HKEY_USERS
// subkey) and deletes a REG_SZ value "x" = "c:\windows\D.EXE -start".
#include "removal/registry_win.h"

// Before <windows.h>, whose macros would rename names in it.
#include "scan/scan_controller.h"

#include <windows.h>

#include <cstring>

#include "common/text16.h"
#include "removal/registry_names.h"
#include "signature/hex_codec.h"
#include "common/ansi_win.h"
#include "common/bind_win.h"
#include "common/handles_win.h"
#include "common/wow64_win.h"

namespace {

static_assert(static_cast<REGSAM>(RegistryView::Bits64) == KEY_WOW64_64KEY);
static_assert(static_cast<REGSAM>(RegistryView::Bits32) == KEY_WOW64_32KEY);

const wchar_t* W(const char16_t* p) { return reinterpret_cast<const wchar_t*>(p); }

REGSAM Flag(RegistryView view) { return static_cast<REGSAM>(view); }

HKEY OpenKey(HKEY root, const char16_t* subkey, RegistryView view = RegistryView::Own) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, W(subkey), 0, KEY_ALL_ACCESS | Flag(view), &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

bool Empty(const char16_t* s) { return s == nullptr || s[0] == 0; }

void MarkChanged(CScanController& controller) { controller.GetStatistics().registryChanges = 1; }

// Deletes the value `name` of root\subkey in one view.
DeleteValueResult DeleteValueIn(CScanController& controller, HKEY root, const char16_t* subkey,
                                const char16_t* name, RegistryView view) {
    HKEY key = OpenKey(root, subkey, view);
    if (key == nullptr) return DeleteValueResult::KeyNotOpened;
    const bool deleted = RegDeleteValueW(key, W(name)) == ERROR_SUCCESS;
    if (deleted) MarkChanged(controller);
    if (RegCloseKey(key) != ERROR_SUCCESS) return DeleteValueResult::KeyNotOpened;
    return deleted ? DeleteValueResult::Deleted : DeleteValueResult::Failed;
}

// Deletes every REG_SZ value of rootName\subkey whose data contains `needle`,
// in each cleaning view; false at the first deletion that fails when
// `stopOnFailure`.
bool DeleteMatchingValues(CScanController& controller, const char16_t* rootName, const char16_t* subkey,
                          std::u16string_view needle, bool stopOnFailure) {
    HKEY root = RootKeyFromName(rootName);
    for (RegistryView view : CleaningViews()) {
        uint32_t count = 0;
        for (const auto& value : EnumerateValues(rootName, subkey, count, view)) {
            if (value.type != REG_SZ) continue;
            if (FindIgnoreCase(value.Text(), needle) == std::u16string_view::npos) continue;
            const auto result = DeleteValueIn(controller, root, subkey, value.name, view);
            if (stopOnFailure && result != DeleteValueResult::Deleted) return false;
        }
    }
    return true;
}

// Changes rootName\subkey's value `name` in one view as ReplaceRegistryValue
// describes; true when it was changed.
bool ReplaceValueIn(HKEY root, const char16_t* subkey, const char16_t* valueName, const char16_t* oldData,
                    const char16_t* newData, RegistryView view) {
    UniqueKey key(OpenKey(root, subkey, view));
    if (!key) return false;
    uint8_t buffer[262] = {};
    DWORD type = 0, size = 260;
    if (RegQueryValueExW(key.get(), W(valueName), nullptr, &type, buffer, &size) != ERROR_SUCCESS) return false;
    LONG written = ERROR_INVALID_DATA;
    if (type == REG_SZ) {
        RegistryValueRecord current;
        std::memcpy(current.data, buffer, size);
        const std::u16string text = current.Text();
        if (!EqualsIgnoreCase(text, oldData) || EqualsIgnoreCase(text, newData)) return false;
        const std::size_t units = std::char_traits<char16_t>::length(newData) + 1;  // with its zero unit
        written = RegSetValueExW(key.get(), W(valueName), 0, REG_SZ, reinterpret_cast<const BYTE*>(newData),
                                 static_cast<DWORD>(units * sizeof(char16_t)));
    } else if (type == REG_DWORD) {
        if (size != 4 || !IsDecimalDigits(oldData) || !IsDecimalDigits(newData)) return false;
        int32_t current;
        std::memcpy(&current, buffer, 4);
        const int32_t oldNumber = *ScanDecimal(oldData), newNumber = *ScanDecimal(newData);
        if (current != oldNumber || current == newNumber) return false;
        written = RegSetValueExW(key.get(), W(valueName), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&newNumber),
                                 4);
    }
    return written == ERROR_SUCCESS;
}

}  // namespace

HKEY RootKeyFromName(const char16_t* name) {
    static const HKEY kRoots[kRegistryRootCount] = {
        HKEY_LOCAL_MACHINE,  HKEY_CURRENT_USER,     HKEY_USERS,   HKEY_CLASSES_ROOT,
        HKEY_CURRENT_CONFIG, HKEY_PERFORMANCE_DATA, HKEY_DYN_DATA,
    };
    if (name == nullptr) return nullptr;
    const int i = RegistryRootIndex(name);
    return i < 0 ? nullptr : kRoots[i];
}

std::vector<RegistryView> CleaningViews() {
    if (Is64BitWindows()) return {RegistryView::Bits64, RegistryView::Bits32};
    return {RegistryView::Own};
}

RegistryView CreationView() { return Is64BitWindows() ? RegistryView::Bits64 : RegistryView::Own; }

std::u16string RegistryValueRecord::Text() const {
    std::u16string text;
    for (uint32_t i = 0; i + 1 < sizeof data; i += 2) {
        char16_t c;
        std::memcpy(&c, data + i, sizeof c);
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

std::vector<RegistryValueRecord> EnumerateValues(const char16_t* rootName, const char16_t* subkey,
                                                 uint32_t& count, RegistryView view) {
    count = 0;
    HKEY root = RootKeyFromName(rootName);
    if (root == nullptr) return {};
    UniqueKey key(OpenKey(root, subkey, view));
    if (!key) return {};
    DWORD values = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        values == 0) {
        return {};
    }
    std::vector<RegistryValueRecord> out(values);
    for (DWORD i = 0; i < values; ++i) {
        RegistryValueRecord& r = out[i];
        wchar_t name[260] = {};
        DWORD nameUnits = 260, type = 0, size = 260;
        const LONG status = RegEnumValueW(key.get(), i, name, &nameUnits, nullptr, &type, r.data, &size);
        if (status == ERROR_MORE_DATA) {
            // Kept, but what did not fit counts as empty.
            std::memset(r.data, 0, sizeof r.data);
            size = 0;
            if (nameUnits >= 260) nameUnits = 0;
        } else if (status != ERROR_SUCCESS) {
            return {};
        }
        if (nameUnits > 259) nameUnits = 259;
        std::memcpy(r.name, name, nameUnits * sizeof(wchar_t));
        r.name[nameUnits] = 0;
        r.type = type;
        r.dataSize = size <= 260 ? size : 0;
    }
    count = values;
    return out;
}

std::vector<std::u16string> EnumerateSubkeys(const char16_t* rootName, uint32_t& count) {
    count = 0;
    HKEY root = RootKeyFromName(rootName);
    if (root == nullptr) return {};
    UniqueKey key(OpenKey(root, nullptr));
    if (!key) return {};
    DWORD subkeys = 0;
    if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
        subkeys == 0) {
        return {};
    }
    std::vector<std::u16string> out;
    out.reserve(subkeys);
    for (DWORD i = 0; i < subkeys; ++i) {
        wchar_t name[260] = {};
        DWORD units = 260;
        if (RegEnumKeyExW(key.get(), i, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return {};
        }
        out.emplace_back(name, name + units);
    }
    count = subkeys;
    return out;
}

DeleteValueResult DeleteRegistryValue(CScanController& controller, const char16_t* rootName,
                                      const char16_t* subkey, const char16_t* valueName) {
    HKEY root = RootKeyFromName(rootName);
    if (root == nullptr) return DeleteValueResult::KeyNotOpened;
    // The best of the views' results: Deleted, then Failed, then KeyNotOpened.
    DeleteValueResult result = DeleteValueResult::KeyNotOpened;
    for (RegistryView view : CleaningViews()) {
        const DeleteValueResult inView = DeleteValueIn(controller, root, subkey, valueName, view);
        if (static_cast<int>(inView) > static_cast<int>(result)) result = inView;
    }
    return result;
}

DeleteKeyResult DeleteRegistryKey(CScanController& controller, const char16_t* rootName, const char16_t* subkey) {
    HKEY root = RootKeyFromName(rootName);
    if (root == nullptr) return DeleteKeyResult::UnknownRoot;
    // An empty path would name the root itself.
    if (Empty(subkey)) return DeleteKeyResult::Failed;
    // The view is chosen by RegDeleteKeyExW (Vista and XP x64 onwards); without
    // it only the program's own view is reached.
    using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    const auto deleteInView = BindLoaded<RegDeleteKeyExWFn>(L"advapi32.dll", "RegDeleteKeyExW");
    bool deleted = false;
    if (deleteInView != nullptr && Is64BitWindows()) {
        for (RegistryView view : CleaningViews()) {
            deleted |= deleteInView(root, W(subkey), Flag(view), 0) == ERROR_SUCCESS;
        }
    } else {
        deleted = RegDeleteKeyW(root, W(subkey)) == ERROR_SUCCESS;
    }
    if (!deleted) return DeleteKeyResult::Failed;
    MarkChanged(controller);
    return DeleteKeyResult::Deleted;
}

CreateKeyResult CreateRegistryKey(CScanController& controller, const char16_t* rootName, const char16_t* subkey) {
    HKEY root = RootKeyFromName(rootName);
    if (root == nullptr || Empty(subkey)) return CreateKeyResult::BadArgument;
    UniqueKey key;
    DWORD disposition = 0;
    if (RegCreateKeyExW(root, W(subkey), 0, nullptr, REG_OPTION_NON_VOLATILE, Flag(CreationView()), nullptr,
                        key.put(), &disposition) != ERROR_SUCCESS) {
        return CreateKeyResult::Failed;
    }
    if (disposition != REG_CREATED_NEW_KEY) return CreateKeyResult::AlreadyExisted;
    MarkChanged(controller);
    return CreateKeyResult::Created;
}

ChangeValueResult ReplaceRegistryValue(CScanController& controller, const char16_t* rootName,
                                       const char16_t* subkey, const char16_t* valueName, const char16_t* oldData,
                                       const char16_t* newData) {
    HKEY root = RootKeyFromName(rootName);
    if (root == nullptr || Empty(subkey) || valueName == nullptr) return ChangeValueResult::BadArgument;
    if (oldData == nullptr || newData == nullptr) return ChangeValueResult::NotChanged;
    // A view sharing the key with the first sees the new data and is left alone.
    bool changed = false;
    for (RegistryView view : CleaningViews()) {
        changed |= ReplaceValueIn(root, subkey, valueName, oldData, newData, view);
    }
    if (!changed) return ChangeValueResult::NotChanged;
    MarkChanged(controller);
    return ChangeValueResult::Changed;
}

ChangeValueResult SetRegistryValue(CScanController& controller, const char16_t* rootName, const char16_t* subkey,
                                   const char16_t* valueName, const char16_t* typeName, const char16_t* data) {
    HKEY root = RootKeyFromName(rootName);
    if (root == nullptr || valueName == nullptr) return ChangeValueResult::BadArgument;
    const RegistryView view = CreationView();
    UniqueKey key(OpenKey(root, subkey, view));
    if (!key) return ChangeValueResult::NotChanged;
    uint32_t count = 0;
    for (const auto& value : EnumerateValues(rootName, subkey, count, view)) {
        if (EqualsIgnoreCase(value.name, valueName)) return ChangeValueResult::NotChanged;
    }
    const uint32_t type = RegistryTypeFromName(typeName);
    std::vector<uint8_t> bytes;
    if (type == kRegDword) {
        const int32_t number = data != nullptr ? ScanDecimal(data).value_or(0) : 0;
        bytes.resize(4);
        std::memcpy(bytes.data(), &number, 4);
    } else if (type == kRegBinary) {
        if (data != nullptr) {
            const auto digits = WideToAnsi(data);
            if (!digits || digits->size() > 260) return ChangeValueResult::NotChanged;
            std::size_t decoded = 0;
            HexCodecLenient(reinterpret_cast<const uint8_t*>(digits->data()), digits->size(), bytes, decoded,
                            kHexDecode, nullptr);
            bytes.resize(decoded);
        }
    } else if (data != nullptr) {
        const std::size_t units = std::char_traits<char16_t>::length(data) + 1;
        bytes.resize(units * sizeof(char16_t));
        std::memcpy(bytes.data(), data, bytes.size());
    } else {
        bytes.assign(4, 0);  // an empty text and a second zero unit
    }
    if (RegSetValueExW(key.get(), W(valueName), 0, type, bytes.empty() ? nullptr : bytes.data(),
                       static_cast<DWORD>(bytes.size())) != ERROR_SUCCESS) {
        return ChangeValueResult::NotChanged;
    }
    MarkChanged(controller);
    return ChangeValueResult::Changed;
}

RunEntriesResult RemoveRunEntries(CScanController& controller, const char16_t* text) {
    if (Empty(text)) return RunEntriesResult::Stopped;
    const std::u16string_view needle(text);
    for (const char16_t* runKey : kRunKeyPaths) {
        if (!DeleteMatchingValues(controller, u"HKEY_LOCAL_MACHINE", runKey, needle, true)) {
            return RunEntriesResult::Stopped;
        }
    }
    uint32_t count = 0;
    const auto users = EnumerateSubkeys(u"HKEY_USERS", count);
    if (users.empty()) return RunEntriesResult::Stopped;
    for (const auto& user : users) {
        for (const char16_t* runKey : kRunKeyPaths) {
            const std::u16string path = user + u"\\" + runKey;
            if (!DeleteMatchingValues(controller, u"HKEY_USERS", path.c_str(), needle, true)) {
                return RunEntriesResult::Stopped;
            }
        }
    }
    MarkChanged(controller);
    return RunEntriesResult::Finished;
}

void CleanSoberRunEntries(CScanController& controller, const char16_t* text) {
    if (Empty(text)) return;
    static const struct {
        const char16_t* root;
        const char16_t* key;
    } kKeys[] = {
        {u"HKEY_LOCAL_MACHINE", u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {u"HKEY_LOCAL_MACHINE", u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
        {u"HKEY_CURRENT_USER", u"Software\\Microsoft\\Windows\\CurrentVersion\\Run"},
        {u"HKEY_CURRENT_USER", u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce"},
    };
    for (const auto& k : kKeys) DeleteMatchingValues(controller, k.root, k.key, text, false);
}
