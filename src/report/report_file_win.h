// The Windows side of the report: the facts of the running system and the
// report file, written whole or not at all.
#pragma once

#include <string>
#include <string_view>

#include "report/json_report.h"

WindowsFacts QueryWindowsFacts();
// Writes `bytes` to a new file beside `path` and moves it into place; false
// when the report could not be written (an older report then stays as it was).
bool WriteReportFile(const std::u16string& path, std::string_view bytes);
