// The paths the file removal has already handled in this run of the program.
#pragma once

#include <array>
#include <string_view>

class CPathTable {
public:
    static constexpr std::size_t kEntries = 1024;
    static constexpr std::size_t kUnits = 260;

    CPathTable() { Clear(); }

    // True when `path` (ignoring letter case) is in the table. Otherwise the
    // path goes into the first empty entry, or entry 0 when all are in use.
    // Paths are kept to their first 259 units.
    bool CheckAndRecord(std::u16string_view path);

    void Clear();

private:
    std::array<std::array<char16_t, kUnits>, kEntries> entries_;
};
