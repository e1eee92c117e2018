// The seven folder queries behind the script's path variables. The system
// object answers them from the running system; tools and tests answer with
// fixed values.
#pragma once

class CFolderLookup {
public:
    virtual ~CFolderLookup() = default;

    // Each returns a NUL-terminated path of at most 260 units, or null. The
    // text stays valid until the same query runs again.
    virtual const char16_t* GetSystemDir() = 0;
    virtual const char16_t* GetWindowsDir() = 0;
    virtual const char16_t* GetProgramFilesDir() = 0;
    virtual const char16_t* GetProfileDir() = 0;
    virtual const char16_t* GetTempDir() = 0;  // without trailing backslash
    virtual const char16_t* GetInternetCacheDir() = 0;
    virtual const char16_t* GetCookiesDir() = 0;
};
