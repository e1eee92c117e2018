// Word rewritings, in the order the parser applies them:
//
//   hkcu\Software\x          -> HKEY_CURRENT_USER\Software\x
//   %WinDir%\a.exe           -> C:\WINDOWS\a.exe
//   %COOKIES%\x (no cookies) -> failure; the parser then uses the empty word
#include "script/expansion.h"

#include "common/text16.h"
#include "script/folders.h"

namespace {

struct RootForm {
    const char16_t* shortForm;
    const char16_t* fullName;
};

constexpr RootForm kRootForms[] = {
    {u"HKCU", u"HKEY_CURRENT_USER"},  {u"HKLM", u"HKEY_LOCAL_MACHINE"},
    {u"HKCR", u"HKEY_CLASSES_ROOT"},  {u"HKUS", u"HKEY_USERS"},
    {u"HKCC", u"HKEY_CURRENT_CONFIG"},
};

using Query = const char16_t* (CFolderLookup::*)();

struct PathVariable {
    const char16_t* name;
    Query query;
};

constexpr PathVariable kVariables[] = {
    {u"%SYSDIR%", &CFolderLookup::GetSystemDir},
    {u"%WINDIR%", &CFolderLookup::GetWindowsDir},
    {u"%PROGRAM_FILES%", &CFolderLookup::GetProgramFilesDir},
    {u"%HOME%", &CFolderLookup::GetProfileDir},
    {u"%TEMPDIR%", &CFolderLookup::GetTempDir},
    {u"%TEMPORARY_INTERNET_FILES%", &CFolderLookup::GetInternetCacheDir},
    {u"%COOKIES%", &CFolderLookup::GetCookiesDir},
};

}  // namespace

std::u16string ExpandRegistryRoot(std::u16string_view word) {
    if (word.size() >= 4) {
        for (const RootForm& form : kRootForms) {
            if (EqualsIgnoreCase(word.substr(0, 4), form.shortForm)) {
                std::u16string out(form.fullName);
                out.append(word.substr(4));
                return out;
            }
        }
    }
    return std::u16string(word);
}

bool ExpandPathVariables(std::u16string& word, CFolderLookup& folders) {
    std::u16string result = word;
    for (const PathVariable& variable : kVariables) {
        const std::u16string_view name(variable.name);
        std::size_t pos = FindIgnoreCase(result, name);
        if (pos == std::u16string::npos) continue;
        const char16_t* value = (folders.*variable.query)();
        if (value == nullptr || value[0] == u'\0') return false;
        // One left-to-right pass: inserted values are not searched again.
        std::u16string expanded;
        std::size_t copied = 0;
        while (pos != std::u16string::npos) {
            expanded.append(result, copied, pos - copied);
            expanded.append(value);
            copied = pos + name.size();
            pos = FindIgnoreCase(result, name, copied);
        }
        expanded.append(result, copied, std::u16string::npos);
        result = std::move(expanded);
    }
    word = std::move(result);
    return true;
}
