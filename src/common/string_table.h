// The program's user-visible texts (resources/strings.def), for platform-free
// code. The Windows build carries the same entries as its STRINGTABLE.
#pragma once

enum StringId : unsigned {
#define TESMORA_STRING(id, name, text) name = id,
#include "strings.def"
#undef TESMORA_STRING
};

// UTF-16 text of `id`, zero-terminated, with static storage; an empty text
// when the table has no entry `id`. Never null.
const char16_t* LoadText(StringId id);
