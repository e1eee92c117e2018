// Text in the system's ANSI code page, for the files shared with Windows'
// own readers (hosts, WININIT.INI). Buffers are sized by the system, so
// multi-byte code pages fit.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The ANSI form of `text`; nothing when a unit has no exact ANSI form.
std::optional<std::string> WideToAnsi(std::u16string_view text);

// The UTF-16 form of ANSI bytes; nothing when they are not valid text.
std::optional<std::u16string> AnsiBytesToWide(std::string_view bytes);
