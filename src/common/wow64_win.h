// 64-bit Windows as the program meets it: whether the 32-bit program runs
// under WOW64, the file-system redirection of its system folder, and the
// folder of the 32-bit system files. IsWow64Process,
// Wow64DisableWow64FsRedirection, Wow64RevertWow64FsRedirection and
// GetSystemWow64DirectoryW are bound by name: a system without them has no
// WOW64, and every answer here is "none".
#pragma once

#include <string>
#include <string_view>

// True when this 32-bit program runs under WOW64; false for the 64-bit
// program and on 32-bit Windows.
bool IsWow64();

// True on 64-bit Windows: always for the 64-bit program, for the 32-bit one
// under WOW64 on NT 5.1 or later. Only there do the registry views
// (KEY_WOW64_64KEY, KEY_WOW64_32KEY) exist.
bool Is64BitWindows();

// The system folder of the 32-bit programs of 64-bit Windows (SysWOW64);
// empty elsewhere.
std::u16string SystemWow64Directory();

// For the shell, which must run with redirection on (it loads libraries): a
// name that, with redirection on, reaches the file `path` names with
// redirection off. Under WOW64 a path in the system folder is given through
// the folder's alias %WINDIR%\Sysnative, and is empty when the alias is
// missing (XP x64 without its update); elsewhere it is `path` itself. To be
// called with redirection on.
std::u16string RedirectionFreeName(std::u16string_view path);

// The file-system redirection of WOW64 turned off on the constructing
// thread until Revert or the end of the guard. Does nothing where there is
// no WOW64. Redirection is per thread: the guard stays on its thread, and no
// library is loaded while it is active.
class CFsRedirectionOff {
public:
    CFsRedirectionOff();
    ~CFsRedirectionOff() { Revert(); }
    CFsRedirectionOff(const CFsRedirectionOff&) = delete;
    CFsRedirectionOff& operator=(const CFsRedirectionOff&) = delete;

    // True while redirection is off through this guard.
    bool Active() const { return active_; }
    // Turns redirection back on now; later calls do nothing.
    void Revert();

private:
    void* previous_ = nullptr;
    bool active_ = false;
};
