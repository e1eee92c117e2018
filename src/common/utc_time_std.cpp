#include "common/utc_time.h"

#include <ctime>

UtcTime CurrentUtcTime() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    ::gmtime_r(&now, &t);
    return UtcTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}
