// What the run did to what it found: one record per detection handed to a
// remover, with every action taken on it and how it ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quarantine/quarantine.h"
#include "removers/remover.h"

enum class ActionKind {
    Terminate,     // a process
    Delete,        // a file
    Rename,        // a file, to `destination`
    Repair,        // an infected program, in place
    CleanIni,      // system.ini or win.ini
    RestoreHosts,  // the hosts file from its backup
    CleanHosts,    // entries of the hosts file
    Registry,      // a Run entry, key or value
    None,          // scan only: nothing was done
};

enum class ActionOutcome {
    Terminated,
    Removed,
    Renamed,
    Scheduled,  // deferred to the next start of Windows
    Repaired,
    Changed,
    Unchanged,  // nothing to do (no such file, entry or value)
    Failed,
    Attempted,  // the primitive reports no result (registry)
    Skipped,    // scan only
};

const char* ActionKindName(ActionKind kind);
const char* ActionOutcomeName(ActionOutcome outcome);

struct ActionRecord {
    ActionKind kind = ActionKind::None;
    ActionOutcome outcome = ActionOutcome::Skipped;
    std::u16string target;       // path, process, INI file or registry key
    std::u16string destination;  // a rename's new name
    uint32_t processId = 0;      // Terminate
    std::optional<QuarantineEntry> quarantine;
    bool quarantineMissing = false;  // a copy was due but could not be made
};

struct DetectedProcess {
    std::u16string path;
    uint32_t id = 0;
};

struct DetectionRecord {
    DetectionSource source = DetectionSource::File;
    std::u16string family;
    std::u16string variant;
    std::u16string path;  // the infected file or module (empty for a scripted memory hit)
    std::vector<DetectedProcess> processes;
    std::vector<ActionRecord> actions;
};

// Filled on the scan thread; read after the scan has ended.
class CDetectionJournal {
public:
    // Opens the record of one detection; the actions that follow belong to it.
    void Begin(DetectionRecord record);
    void End() { open_ = false; }
    // Adds to the open detection, or to the run's actions outside any.
    void Add(ActionRecord action);
    // The open detection, or null.
    const DetectionRecord* Current() const { return open_ ? &detections_.back() : nullptr; }
    const std::vector<DetectionRecord>& Detections() const { return detections_; }
    const std::vector<ActionRecord>& Unattributed() const { return unattributed_; }
    void Clear();

private:
    std::vector<DetectionRecord> detections_;
    std::vector<ActionRecord> unattributed_;
    bool open_ = false;
};
