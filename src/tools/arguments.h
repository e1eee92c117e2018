// The words of a Windows command line, split as the C runtime splits argv:
// blanks separate words outside double quotes; 2n backslashes before a quote
// give n backslashes and the quote opens or closes quoting; 2n+1 give n and a
// literal quote; other backslashes are literal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

std::vector<std::u16string> SplitCommandLine(std::u16string_view line);
