#include "common/utc_time.h"

#include <cstdio>

std::string IsoUtcText(const UtcTime& t) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return buffer;
}
