// Finding and terminating real child processes (the harmless test sleeper).
#include "support/removal_win_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "support/win_support.h"
#include "scanner/process_api_win.h"
#include "removal/processes_win.h"

namespace {

constexpr char16_t kChildName[] = u"TESMORA_TEST_CHILD.EXE";

bool Alive(HANDLE process) { return WaitForSingleObject(process, 0) == WAIT_TIMEOUT; }

DWORD ExitCode(HANDLE process) {
    DWORD code = 12345;
    GetExitCodeProcess(process, &code);
    return code;
}

class ProcessesTest : public ::testing::Test {
protected:
    uint32_t terminated() { return session_.statistics().terminatedProcesses; }
    CRemovalSession session_;
};

TEST_F(ProcessesTest, FindByNameIgnoresCaseAndRecordsTheSearchedName) {
    ChildProcess a, b;
    ASSERT_TRUE(a.started() && b.started());
    std::vector<InfectedProcessRecord> list(1);  // appended to, never cleared
    list[0].processId = 7;
    FindProcessesByName(kChildName, list);
    if (CProcessApi::GetInstance()->isWindows9x()) {
        // Wine's 9x toolhelp names processes without their folder; a name
        // without backslash is never matched on this family.
        EXPECT_EQ(1u, list.size());
        return;
    }
    ASSERT_EQ(3u, list.size());
    EXPECT_EQ(7u, list[0].processId);
    std::vector<uint32_t> ids = {list[1].processId, list[2].processId};
    std::sort(ids.begin(), ids.end());
    std::vector<uint32_t> expected = {a.id(), b.id()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, ids);
    EXPECT_EQ(std::u16string(kChildName), list[1].path);

    std::vector<InfectedProcessRecord> none;
    FindProcessesByName(u"tesmora_test_child", none);  // without its extension
    FindProcessesByName(u"", none);
    EXPECT_TRUE(none.empty());
}

TEST_F(ProcessesTest, TerminateByIdEndsTheProcessWithExitCodeZero) {
    ChildProcess child;
    ASSERT_TRUE(child.started());
    EXPECT_TRUE(LowerProcessPriority(child.id()));
    EXPECT_EQ(static_cast<DWORD>(IDLE_PRIORITY_CLASS), GetPriorityClass(child.handle()));
    EXPECT_EQ(TerminateResult::Terminated, TerminateProcessById(session_.controller(), child.id()));
    EXPECT_FALSE(Alive(child.handle()));
    EXPECT_EQ(0u, ExitCode(child.handle()));
    EXPECT_EQ(1u, terminated());

    // No such process: it can be neither lowered nor terminated, and is not counted.
    EXPECT_FALSE(LowerProcessPriority(0xFFFFFFF0u));
    EXPECT_EQ(TerminateResult::NotTerminated, TerminateProcessById(session_.controller(), 0xFFFFFFF0u));
    EXPECT_EQ(1u, terminated());
}

TEST_F(ProcessesTest, TerminateListEndsEveryProcessOfMoreThan64) {
    EXPECT_EQ(TerminateListResult::NoList, TerminateProcesses(session_.controller(), nullptr));
    const std::vector<InfectedProcessRecord> empty;
    EXPECT_EQ(TerminateListResult::Finished, TerminateProcesses(session_.controller(), &empty));

    constexpr int kChildren = 70;
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::vector<InfectedProcessRecord> list;
    for (int i = 0; i < kChildren; ++i) {
        children.push_back(std::make_unique<ChildProcess>(60000));
        ASSERT_TRUE(children.back()->started());
        InfectedProcessRecord r;
        r.processId = children.back()->id();
        list.push_back(r);
    }
    InfectedProcessRecord gone;  // an identifier no process has
    gone.processId = 0xFFFFFFF0u;
    list.push_back(gone);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(TerminateListResult::Finished, TerminateProcesses(session_.controller(), &list));
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("bench: TerminateProcesses of %d children: %lld ms\n", kChildren, static_cast<long long>(ms));
    int alive = 0;
    for (const auto& c : children) alive += Alive(c->handle()) ? 1 : 0;
    EXPECT_EQ(0, alive);
    EXPECT_EQ(static_cast<uint32_t>(kChildren), terminated());
}

uint64_t StartTimeOf(HANDLE process) {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
    return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

// The scan saw another process under this identifier (one that has ended
// since, its identifier given to this one): this one is left running.
TEST_F(ProcessesTest, AProcessThatIsNotTheOneSeenIsLeftRunning) {
    ChildProcess child;
    ASSERT_TRUE(child.started());
    const uint64_t started = StartTimeOf(child.handle());
    ASSERT_NE(0u, started);
    RecordSeenProcess(child.id(), started - 1);
    EXPECT_EQ(TerminateResult::NotTerminated, TerminateProcessById(session_.controller(), child.id()));
    std::vector<InfectedProcessRecord> list(1);
    list[0].processId = child.id();
    EXPECT_EQ(TerminateListResult::Finished, TerminateProcesses(session_.controller(), &list));
    EXPECT_TRUE(Alive(child.handle()));
    EXPECT_EQ(0u, terminated());

    // Seen as it is: terminated.
    RecordSeenProcess(child.id(), child.handle());
    EXPECT_EQ(TerminateResult::Terminated, TerminateProcessById(session_.controller(), child.id()));
    EXPECT_FALSE(Alive(child.handle()));
    EXPECT_EQ(1u, terminated());
}

// Found twice (as an infected process and by its name): terminated once,
// counted once.
TEST_F(ProcessesTest, AProcessListedTwiceIsTerminatedOnce) {
    ChildProcess child;
    ASSERT_TRUE(child.started());
    std::vector<InfectedProcessRecord> list(2);
    list[0].processId = list[1].processId = child.id();
    EXPECT_EQ(TerminateListResult::Finished, TerminateProcesses(session_.controller(), &list));
    EXPECT_FALSE(Alive(child.handle()));
    EXPECT_EQ(1u, terminated());
    EXPECT_EQ(TerminateResult::NotTerminated, TerminateProcessById(session_.controller(), child.id()));
    EXPECT_EQ(1u, terminated());
}

}  // namespace
