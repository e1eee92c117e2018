// Line transforms of the hosts file, on its text decoded to UTF-16.
// Lines are the runs between LF characters; empty runs vanish. A line is an
// entry when its first word (white space skipped, at most 260 units) does not
// begin with '#'. Disabled lines get "# " in front; every kept line ends in LF.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every entry disabled, then "\r\n127.0.0.1\t\tlocalhost\r\n" appended.
std::u16string DisableAllHostEntries(std::u16string_view text);

// The entries whose first or second word equals `host` (ignoring letter case)
// disabled; nothing when no entry names the host.
std::optional<std::u16string> DisableHostEntries(std::u16string_view text, std::u16string_view host);
