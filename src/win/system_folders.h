// The seven folder queries answered by the running Windows.
#pragma once

#include "script/folders.h"

class CSystemFolders : public CFolderLookup {
public:
    CSystemFolders();
    ~CSystemFolders() override;
    CSystemFolders(const CSystemFolders&) = delete;
    CSystemFolders& operator=(const CSystemFolders&) = delete;

    const char16_t* GetSystemDir() override;
    const char16_t* GetWindowsDir() override;
    const char16_t* GetProgramFilesDir() override;
    const char16_t* GetProfileDir() override;
    const char16_t* GetTempDir() override;
    const char16_t* GetInternetCacheDir() override;
    const char16_t* GetCookiesDir() override;

private:
    const char16_t* SpecialFolder(int csidl, char16_t* buffer);

    void* shell32_ = nullptr;
    void* getSpecialFolderPath_ = nullptr;
    void* getLongPathName_ = nullptr;
    bool isNt4_ = false;
    char16_t windows_[260], system_[260], programFiles_[260], profile_[260], temp_[260],
        cookies_[260], internetCache_[260];
};
