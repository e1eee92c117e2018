#include "report/detection_journal.h"

const char* ActionKindName(ActionKind kind) {
    switch (kind) {
    case ActionKind::Terminate: return "terminate";
    case ActionKind::Delete: return "delete";
    case ActionKind::Rename: return "rename";
    case ActionKind::Repair: return "repair";
    case ActionKind::CleanIni: return "clean-ini";
    case ActionKind::RestoreHosts: return "restore-hosts";
    case ActionKind::CleanHosts: return "clean-hosts";
    case ActionKind::Registry: return "registry";
    case ActionKind::None: return "none";
    }
    return "none";
}

const char* ActionOutcomeName(ActionOutcome outcome) {
    switch (outcome) {
    case ActionOutcome::Terminated: return "terminated";
    case ActionOutcome::Removed: return "removed";
    case ActionOutcome::Renamed: return "renamed";
    case ActionOutcome::Scheduled: return "scheduled for reboot";
    case ActionOutcome::Repaired: return "repaired";
    case ActionOutcome::Changed: return "changed";
    case ActionOutcome::Unchanged: return "unchanged";
    case ActionOutcome::Failed: return "failed";
    case ActionOutcome::Attempted: return "attempted";
    case ActionOutcome::Skipped: return "skipped (scan only)";
    }
    return "failed";
}

void CDetectionJournal::Begin(DetectionRecord record) {
    detections_.push_back(std::move(record));
    open_ = true;
}

void CDetectionJournal::Add(ActionRecord action) {
    if (open_) {
        detections_.back().actions.push_back(std::move(action));
    } else {
        unattributed_.push_back(std::move(action));
    }
}

void CDetectionJournal::Clear() {
    detections_.clear();
    unattributed_.clear();
    open_ = false;
}
