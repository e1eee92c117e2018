// Run-time binding of optional system functions, and system libraries loaded
// by full path from the system folder (never from the program's folder or the
// current directory, which others may be able to write to).
#pragma once

#include <windows.h>

// The system library `name` (for example L"netapi32.dll"), loaded from the
// system folder; null when it is not there. The caller frees it.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Keeps the program's folder and the current directory out of the search for
// libraries loaded by name later on (by the program or by system libraries),
// as far as the system allows. First thing at start.
void RestrictLibrarySearch();

// The export `name` of `module`; null when the module is null or lacks it.
// On 9x/ME a wide function comes from the Unicode layer when it has one.
FARPROC BoundAddress(HMODULE module, const char* name);

// The export `name` of `module` as a function pointer of type Fn.
template <typename Fn>
Fn BindFunction(HMODULE module, const char* name) {
    // Through a plain function pointer type: bound functions have their own signatures.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(BoundAddress(module, name)));
}

// The export `name` of the already loaded system module `module` (kernel32,
// advapi32, ...); null when absent.
template <typename Fn>
Fn BindLoaded(const wchar_t* module, const char* name) {
    return BindFunction<Fn>(GetModuleHandleW(module), name);
}

// A library owned until its owner goes away.
class UniqueLibrary {
public:
    UniqueLibrary() = default;
    explicit UniqueLibrary(HMODULE module) : module_(module) {}
    ~UniqueLibrary() { reset(); }
    UniqueLibrary(const UniqueLibrary&) = delete;
    UniqueLibrary& operator=(const UniqueLibrary&) = delete;
    HMODULE get() const { return module_; }
    explicit operator bool() const { return module_ != nullptr; }
    void reset(HMODULE module = nullptr) {
        if (module_ != nullptr) FreeLibrary(module_);
        module_ = module;
    }

private:
    HMODULE module_ = nullptr;
};
