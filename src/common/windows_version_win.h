// The running Windows as GetVersionExW reports it (wide record of 276 bytes).
#pragma once

#include <cstdint>
#include <optional>

struct WindowsVersion {
    uint32_t platform = 0;  // 1: the 9x/ME family, 2: the NT family
    uint32_t major = 0;
    uint32_t minor = 0;

    bool IsWindows9x() const { return platform == 1; }
    bool IsNt() const { return platform == 2; }
    // The NT family at `wantMajor`.`wantMinor` or later.
    bool IsNtAtLeast(uint32_t wantMajor, uint32_t wantMinor) const {
        return IsNt() && (major > wantMajor || (major == wantMajor && minor >= wantMinor));
    }
};

// Nothing when the query fails.
std::optional<WindowsVersion> QueryWindowsVersion();

// True on 9x/ME; a failed query counts as the NT family.
inline bool IsWindows9xFamily() {
    const std::optional<WindowsVersion> version = QueryWindowsVersion();
    return version && version->IsWindows9x();
}
