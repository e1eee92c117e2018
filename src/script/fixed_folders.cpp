#include "script/fixed_folders.h"

#include "common/text16.h"

CFixedFolders::CFixedFolders() {
    values_[kSystem] = u"C:\\WINDOWS\\system32";
    values_[kWindows] = u"C:\\WINDOWS";
    values_[kProgramFiles] = u"C:\\Program Files";
    values_[kProfile] = u"C:\\Documents and Settings\\User";
    values_[kTemp] = u"C:\\Documents and Settings\\User\\Local Settings\\Temp";
    values_[kInternetCache] =
        u"C:\\Documents and Settings\\User\\Local Settings\\Temporary Internet Files";
    values_[kCookies] = u"C:\\Documents and Settings\\User\\Cookies";
}

bool CFixedFolders::Set(std::u16string_view variable, std::u16string_view value) {
    static const struct {
        const char16_t* name;
        Slot slot;
    } kNames[] = {
        {u"SYSDIR", kSystem},   {u"WINDIR", kWindows},
        {u"PROGRAM_FILES", kProgramFiles}, {u"HOME", kProfile},
        {u"TEMPDIR", kTemp},    {u"TEMPORARY_INTERNET_FILES", kInternetCache},
        {u"COOKIES", kCookies},
    };
    for (const auto& entry : kNames) {
        if (EqualsIgnoreCase(variable, entry.name)) {
            values_[entry.slot] = std::u16string(value);
            return true;
        }
    }
    return false;
}
