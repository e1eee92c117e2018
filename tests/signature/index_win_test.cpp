// The signature index as the Windows build runs it: every search method this
// CPU and system allow (the AVX-512 one only where the system saves ZMM
// state) agrees with the reference walk at the edges of unreadable pages, on
// the main thread and on a thread Windows started.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/handles_win.h"
#include "signature/index_fixtures.h"

namespace {

// One readable and writable page between two unreadable ones.
class CGuardedPage {
public:
    CGuardedPage() {
        SYSTEM_INFO info = {};
        GetSystemInfo(&info);
        size_ = info.dwPageSize;
        region_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, 3 * size_, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
        DWORD old = 0;
        if (region_ != nullptr && VirtualProtect(region_ + size_, size_, PAGE_READWRITE, &old) == 0) {
            VirtualFree(region_, 0, MEM_RELEASE);
            region_ = nullptr;
        }
    }
    ~CGuardedPage() {
        if (region_ != nullptr) VirtualFree(region_, 0, MEM_RELEASE);
    }
    CGuardedPage(const CGuardedPage&) = delete;
    CGuardedPage& operator=(const CGuardedPage&) = delete;

    uint8_t* page() const { return region_ != nullptr ? region_ + size_ : nullptr; }
    std::size_t size() const { return size_; }

private:
    uint8_t* region_ = nullptr;
    std::size_t size_ = 0;
};

struct EdgeRun {
    CGuardedPage* page;
    std::string problems;
};

DWORD WINAPI RunAtEdges(void* parameter) {
    auto* run = static_cast<EdgeRun*>(parameter);
    run->problems = CheckRangesAtPageEdges(run->page->page(), run->page->size());
    return 0;
}

TEST(SignatureIndexWinTest, RangesAtUnreadablePagesAgreeWithReferenceWalk) {
    CGuardedPage page;
    ASSERT_NE(nullptr, page.page());
    EdgeRun onMain{&page, ""};
    RunAtEdges(&onMain);
    EXPECT_EQ("", onMain.problems);

    EdgeRun onThread{&page, "not run"};
    DWORD id = 0;
    UniqueHandle thread(CreateThread(nullptr, 0, &RunAtEdges, &onThread, 0, &id));
    ASSERT_TRUE(thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), INFINITE));
    EXPECT_EQ("", onThread.problems);
}

}  // namespace
