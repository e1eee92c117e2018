// The action executor's helpers.
#pragma once

#include <string>
#include <string_view>

// Splits a registry key word at its first backslash into the root name and
// the subkey (either may be empty); false, with nothing set, when the word
// has no backslash.
bool SplitKeyPath(std::u16string_view word, std::u16string& root, std::u16string& subkey);
