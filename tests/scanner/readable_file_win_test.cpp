// An open file as the file scan reads it: at any offset, in any order, in one
// call on the NT family (NtReadFile at an offset), with a seek first on 9x/ME
// (the win98 run); short at the end, nothing at or past it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "scanner/readable_file_win.h"
#include "support/e2e_win_support.h"
#include "support/pe_fixture.h"
#include "support/win_support.h"

namespace {

TEST(Win32ReadableFileTest, ReadsAtAnyOffsetInAnyOrder) {
    if (GetDriveTypeW(L"D:\\") != DRIVE_FIXED) GTEST_SKIP() << "drive D: is not mapped";
    const std::vector<uint8_t> bytes = FixtureBytes(21, 70000);
    ASSERT_TRUE(Write(L"D:\\readable.bin", bytes));
    CWin32ReadableFile file(OpenForReading(L"D:\\readable.bin"));
    ASSERT_TRUE(file.IsOpen());
    ASSERT_NE(nullptr, file.Handle());
    EXPECT_EQ(bytes.size(), file.Size());
    EXPECT_EQ(PositionedRead() != nullptr, RequestedVersion() != "win98");

    const struct {
        uint64_t offset;
        std::size_t count;
        int64_t expected;
    } reads[] = {
        {60000, 4096, 4096},   // ahead of the file pointer
        {0, 4096, 4096},       // back to the start
        {65536, 8192, 4464},   // runs past the end: the rest of the file
        {4096, 1, 1},
        {70000, 100, 0},       // at the end
        {1ull << 33, 100, 0},  // far past it, beyond 32 bits
        {69999, 1, 1},
    };
    std::vector<uint8_t> buffer(8192);
    for (const auto& r : reads) {
        std::fill(buffer.begin(), buffer.end(), 0xEE);
        ASSERT_EQ(r.expected, file.ReadAt(r.offset, buffer.data(), r.count)) << r.offset;
        if (r.expected > 0) {
            EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + r.expected, bytes.begin() + r.offset)) << r.offset;
        }
    }
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    DeleteFileW(L"D:\\readable.bin");
}

}  // namespace
