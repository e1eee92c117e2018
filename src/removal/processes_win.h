// Finding running processes by image name and terminating them, singly or
// a whole list in parallel. Each termination is counted, atomically, in
// ScanStatistics::terminatedProcesses.
#pragma once

#include <cstdint>
#include <vector>

#include "removers/remover.h"

class CScanController;

// Opens the process for PROCESS_SET_INFORMATION and sets IDLE_PRIORITY_CLASS.
bool LowerProcessPriority(uint32_t processId);

// An identifier names a process only until it ends; the system may give it
// to the next one. What the scan saw is kept: the start time of the process
// that had the identifier when it was read (from its open `process` handle),
// and a later termination acts only on a process with that start time. A
// start time of 0, or a system that has none (9x/ME), records nothing.
void RecordSeenProcess(uint32_t processId, void* process);
void RecordSeenProcess(uint32_t processId, uint64_t startTime);

enum class TerminateResult : int {
    NotTerminated = 0,  // not lowered, not opened, not the process the scan saw,
                        // terminated before, not terminated, or alive after 5 s
    Terminated = 1,
};
// Lowers the priority first; a process whose priority cannot be changed is
// left running, and so is one that started after the scan saw the identifier.
// A process is terminated once at most, and counted only when it has ended.
// Safe to call from several threads at once.
[[nodiscard]] TerminateResult TerminateProcessById(CScanController& controller, uint32_t processId);

enum class TerminateListResult : int {
    Finished = 1,  // every termination ended; their results are not returned
    NoList = 2,
};
// One worker thread per record, all awaited (in groups of 64 handles); a
// record whose thread cannot start is skipped.
TerminateListResult TerminateProcesses(CScanController& controller,
                                       const std::vector<InfectedProcessRecord>* list);

// Appends {name, id} for every running process whose image name equals
// `name` ignoring letter case: PSAPI base name (NT 4.0), the part of the
// toolhelp path after its last backslash (9x/ME), the toolhelp file name
// (2000/XP). A walk that cannot start appends nothing.
void FindProcessesByName(const char16_t* name, std::vector<InfectedProcessRecord>& list);
