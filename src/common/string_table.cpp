// Lookup in the table built from strings.def: each entry
//   TESMORA_STRING(61, IDS_DONE, "done\r\n")
// becomes {61, u"" "done\r\n"}, the narrow literal taking the u prefix of
// its neighbour, and LoadText(IDS_DONE) finds it by binary search.
#include "common/string_table.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

struct Entry {
    unsigned id;
    const char16_t* text;
};

constexpr Entry kEntries[] = {
#define TESMORA_STRING(id, name, text) {id, u"" text},
#include "strings.def"
#undef TESMORA_STRING
};

// The binary search needs ascending ids; strictness also catches a
// duplicate id, which the enum would accept.
constexpr bool IdsStrictlyAscending() {
    for (std::size_t i = 1; i < std::size(kEntries); ++i) {
        if (kEntries[i - 1].id >= kEntries[i].id) return false;
    }
    return true;
}
static_assert(IdsStrictlyAscending(),
              "strings.def: ids must be unique and sorted");

// The rc side reads the same literals as narrow text in the build's code
// page, which only agrees with the UTF-16 side for ASCII.
constexpr bool AllAscii() {
    for (const Entry& e : kEntries) {
        for (const char16_t* p = e.text; *p; ++p) {
            if (*p >= 0x80) return false;
        }
    }
    return true;
}
static_assert(AllAscii(), "strings.def: texts must be ASCII");

}  // namespace

const char16_t* LoadText(StringId id) {
    const Entry* end = std::end(kEntries);
    const Entry* it = std::lower_bound(
        std::begin(kEntries), end, static_cast<unsigned>(id),
        [](const Entry& e, unsigned key) { return e.id < key; });
    return (it != end && it->id == id) ? it->text : u"";
}
