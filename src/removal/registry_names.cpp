#include "removal/registry_names.h"

#include "common/text16.h"

const char16_t* const kRegistryRootNames[kRegistryRootCount] = {
    u"HKEY_LOCAL_MACHINE", u"HKEY_CURRENT_USER",     u"HKEY_USERS",    u"HKEY_CLASSES_ROOT",
    u"HKEY_CURRENT_CONFIG", u"HKEY_PERFORMANCE_DATA", u"HKEY_DYN_DATA",
};

const char16_t* const kRunKeyPaths[kRunKeyCount] = {
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce",
    u"Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnceEx",
};

int RegistryRootIndex(std::u16string_view name) {
    for (int i = 0; i < kRegistryRootCount; ++i) {
        if (name == kRegistryRootNames[i]) return i;
    }
    return -1;
}

uint32_t RegistryTypeFromName(const char16_t* name) {
    if (name == nullptr) return kRegSz;
    if (EqualsIgnoreCase(name, u"DWORD")) return kRegDword;
    if (EqualsIgnoreCase(name, u"BINARY")) return kRegBinary;
    return kRegSz;
}

bool IsDecimalDigits(std::u16string_view text) {
    if (text.empty()) return false;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
    }
    return true;
}

std::optional<int32_t> ScanDecimal(std::u16string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    if (i >= text.size() || text[i] < u'0' || text[i] > u'9') return std::nullopt;
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) value = value * 10u + (text[i] - u'0');
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}
