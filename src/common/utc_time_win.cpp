#include "common/utc_time.h"

#include <windows.h>

UtcTime CurrentUtcTime() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    return UtcTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}
