// A moment in UTC, as the system clock gives it, and its ISO 8601 text.
#pragma once

#include <string>

struct UtcTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "2026-12-11T14:35:01Z".
std::string IsoUtcText(const UtcTime& time);

// Now (utc_time_win.cpp, utc_time_std.cpp).
UtcTime CurrentUtcTime();
