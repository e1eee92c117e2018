// Folder answers that do not come from a running Windows: the folders of a
// typical Windows XP installation, each of which can be overridden. Used by
// the analyst tool on Linux and by tests.
#pragma once

#include <string>
#include <string_view>

#include "script/folders.h"

class CFixedFolders : public CFolderLookup {
public:
    CFixedFolders();

    // Sets the value of a variable named without percent signs ("WINDIR");
    // an empty value makes the variable empty. False for an unknown name.
    bool Set(std::u16string_view variable, std::u16string_view value);

    const char16_t* GetSystemDir() override { return Answer(kSystem); }
    const char16_t* GetWindowsDir() override { return Answer(kWindows); }
    const char16_t* GetProgramFilesDir() override { return Answer(kProgramFiles); }
    const char16_t* GetProfileDir() override { return Answer(kProfile); }
    const char16_t* GetTempDir() override { return Answer(kTemp); }
    const char16_t* GetInternetCacheDir() override { return Answer(kInternetCache); }
    const char16_t* GetCookiesDir() override { return Answer(kCookies); }

private:
    enum Slot { kSystem, kWindows, kProgramFiles, kProfile, kTemp, kInternetCache, kCookies, kSlotCount };
    const char16_t* Answer(Slot slot) const {
        return values_[slot].empty() ? nullptr : values_[slot].c_str();
    }
    std::u16string values_[kSlotCount];
};
