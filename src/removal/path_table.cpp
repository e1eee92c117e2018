#include "removal/path_table.h"

#include "common/text16.h"

bool CPathTable::CheckAndRecord(std::u16string_view path) {
    path = path.substr(0, kUnits - 1);
    std::size_t free = 0;
    for (; free < kEntries && entries_[free][0] != 0; ++free) {
        const auto& e = entries_[free];
        if (EqualsIgnoreCase(std::u16string_view(e.data()), path)) return true;
    }
    auto& slot = entries_[free < kEntries ? free : 0];
    slot.fill(0);
    path.copy(slot.data(), path.size());
    return false;
}

void CPathTable::Clear() {
    for (auto& e : entries_) e.fill(0);
}
