// TerminateProcesses over records {d.exe, 412}, {d.exe, 980}: two workers,
// each lowering its process to idle priority, terminating it with exit code
// 0 and waiting up to 5 s for it to end; the call returns when both have.
#include "removal/processes_win.h"

// Before <windows.h>, whose macros would rename names in it.
#include "scan/scan_controller.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <cstring>
#include <string_view>

#include "common/text16.h"
#include "common/bind_win.h"
#include "common/handles_win.h"
#include "scanner/process_api_win.h"

namespace {

constexpr DWORD kTerminationWaitMs = 5000;
constexpr DWORD kMaxWait = MAXIMUM_WAIT_OBJECTS;  // 64

using GetProcessTimesFn = BOOL(WINAPI*)(HANDLE, FILETIME*, FILETIME*, FILETIME*, FILETIME*);

// The start time of `process`; 0 where the system tells none.
uint64_t StartTime(HANDLE process) {
    // Bound at run time: 9x/ME export only a stub.
    static const auto times = BindLoaded<GetProcessTimesFn>(L"kernel32.dll", "GetProcessTimes");
    FILETIME created{}, exited{}, kernel{}, user{};
    if (times == nullptr || process == nullptr || !times(process, &created, &exited, &kernel, &user)) return 0;
    return static_cast<uint64_t>(created.dwHighDateTime) << 32 | created.dwLowDateTime;
}

// The identities the scan saw, and those terminated, under one lock: the
// workers of a list terminate in parallel.
class CProcessIdentities {
public:
    CProcessIdentities() { InitializeCriticalSection(&lock_); }
    ~CProcessIdentities() { DeleteCriticalSection(&lock_); }
    void Record(uint32_t processId, uint64_t startTime) {
        CLock held(lock_);
        seen_[processId] = startTime;
    }
    // True when the process of `startTime` is the one seen under the
    // identifier (or none was recorded) and was not terminated before; it
    // then counts as terminated from here on.
    bool Claim(uint32_t processId, uint64_t startTime) {
        CLock held(lock_);
        const auto seen = seen_.find(processId);
        if (seen != seen_.end() && startTime != 0 && seen->second != startTime) return false;
        return claimed_.insert({processId, startTime}).second;
    }
    // A termination that did not happen may be tried again.
    void Release(uint32_t processId, uint64_t startTime) {
        CLock held(lock_);
        claimed_.erase({processId, startTime});
    }

private:
    struct CLock {
        explicit CLock(CRITICAL_SECTION& s) : section(s) { EnterCriticalSection(&section); }
        ~CLock() { LeaveCriticalSection(&section); }
        CRITICAL_SECTION& section;
    };
    CRITICAL_SECTION lock_;
    std::map<uint32_t, uint64_t> seen_;
    std::set<std::pair<uint32_t, uint64_t>> claimed_;
};

CProcessIdentities& Identities() {
    static CProcessIdentities identities;
    return identities;
}

struct TerminationContext {
    CScanController* controller;
    CProcessApi* system;
    uint32_t processId;
};

DWORD WINAPI TerminationThread(void* parameter) {
    const auto* context = static_cast<const TerminationContext*>(parameter);
    return static_cast<DWORD>(TerminateProcessById(*context->controller, context->processId));
}

// The name the process walk's record is compared by on this family.
std::u16string_view ComparedName(const ProcessRecord& record, bool windows9x) {
    const std::u16string_view name(record.imageName);
    if (!windows9x) return name;
    const std::size_t slash = name.rfind(u'\\');
    if (slash == std::u16string_view::npos) return std::u16string_view();
    return name.substr(slash + 1);
}

}  // namespace

bool LowerProcessPriority(uint32_t processId) {
    UniqueHandle process(OpenProcess(PROCESS_SET_INFORMATION, FALSE, processId));
    if (!process) return false;
    return SetPriorityClass(process.get(), IDLE_PRIORITY_CLASS) != FALSE;
}

TerminateResult TerminateProcessById(CScanController& controller, uint32_t processId) {
    // One handle from here on: it keeps its process, whatever the identifier
    // comes to name.
    UniqueHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId));
    if (!process || !SetPriorityClass(process.get(), IDLE_PRIORITY_CLASS)) return TerminateResult::NotTerminated;
    const uint64_t started = StartTime(process.get());
    if (!Identities().Claim(processId, started)) return TerminateResult::NotTerminated;
    DWORD code = STILL_ACTIVE;
    if (!TerminateProcess(process.get(), 0) ||
        WaitForSingleObject(process.get(), kTerminationWaitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &code) || code == STILL_ACTIVE) {
        Identities().Release(processId, started);
        return TerminateResult::NotTerminated;
    }
    // Workers of one list count in parallel.
    __atomic_fetch_add(&controller.GetStatistics().terminatedProcesses, 1u, __ATOMIC_SEQ_CST);
    return TerminateResult::Terminated;
}

void RecordSeenProcess(uint32_t processId, void* process) { RecordSeenProcess(processId, StartTime(process)); }

void RecordSeenProcess(uint32_t processId, uint64_t startTime) {
    if (startTime != 0) Identities().Record(processId, startTime);
}

TerminateListResult TerminateProcesses(CScanController& controller,
                                       const std::vector<InfectedProcessRecord>* list) {
    if (list == nullptr) return TerminateListResult::NoList;
    CProcessApi* system = CProcessApi::GetInstance();
    // Sized once: the workers hold pointers into it until they have ended.
    std::vector<TerminationContext> contexts(list->size());
    std::vector<UniqueHandle> threads;
    threads.reserve(list->size());
    for (std::size_t i = 0; i < list->size(); ++i) {
        contexts[i] = {&controller, system, (*list)[i].processId};
        HANDLE thread = CreateThread(nullptr, 0, TerminationThread, &contexts[i], 0, nullptr);
        if (thread != nullptr) threads.emplace_back(thread);
    }
    std::vector<HANDLE> raw;
    raw.reserve(threads.size());
    for (const auto& t : threads) raw.push_back(t.get());
    for (std::size_t at = 0; at < raw.size(); at += kMaxWait) {
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(kMaxWait, raw.size() - at));
        if (WaitForMultipleObjects(n, raw.data() + at, TRUE, INFINITE) == WAIT_FAILED) {
            // The contexts must outlive every worker: wait for them one by one.
            for (DWORD i = 0; i < n; ++i) WaitForSingleObject(raw[at + i], INFINITE);
        }
    }
    return TerminateListResult::Finished;
}

void FindProcessesByName(const char16_t* name, std::vector<InfectedProcessRecord>& list) {
    CProcessApi* system = CProcessApi::GetInstance();
    if (system == nullptr || name == nullptr) return;
    ProcessListPtr processes = system->OpenProcessList();
    if (!processes) return;
    const std::u16string_view wanted(name);
    const std::size_t units = std::min<std::size_t>(wanted.size(), 259);
    ProcessRecord record{};
    bool ok = system->FirstProcess(*processes, record);
    // A PSAPI walk cannot open its first entry (the idle process) and goes on.
    bool mayContinue = system->usePsapi();
    while (ok || mayContinue) {
        mayContinue = false;
        if (ok && EqualsIgnoreCase(ComparedName(record, system->isWindows9x()), wanted)) {
            InfectedProcessRecord match;
            std::memcpy(match.path, wanted.data(), units * sizeof(char16_t));
            match.path[units] = 0;
            match.processId = record.processId;
            list.push_back(match);
            UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, record.processId));
            RecordSeenProcess(record.processId, process.get());
        }
        ok = system->NextProcess(*processes, record);
    }
}
