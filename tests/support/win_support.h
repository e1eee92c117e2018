// Helpers for the tests that run under Wine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/handles_win.h"

// The Windows version the harness asked for: "win98", "nt40", "winxp" or "default".
std::string RequestedVersion();

// The Windows form (Z:\...) of a path of the build machine.
std::wstring HostPath(const char* unixPath);

// The prefix's kind as the harness made it: "win32" or "win64".
std::string PrefixArch();

// Writes the new file `filler` until its drive has no room left, or with
// `leave`, until at most `leave` bytes (in whole 4 KB pages) stay free.
// False when the file cannot be made or the drive's room not be asked.
bool FillDrive(const std::wstring& filler, uint64_t leave = 0);

// A started child process, terminated and closed when its owner goes away.
class ChildProcess {
public:
    // Starts the test child program sleeping for `ms` milliseconds.
    explicit ChildProcess(DWORD ms = 30000);
    // The same with the child program at `exe` (e.g. the other build's).
    ChildProcess(const std::wstring& exe, DWORD ms);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return static_cast<bool>(process_); }
    DWORD id() const { return id_; }
    HANDLE handle() const { return process_.get(); }
    // Ends the child and waits until it is gone.
    void Kill();

    static std::wstring ExePath();

private:
    UniqueHandle process_;
    DWORD id_ = 0;
};
