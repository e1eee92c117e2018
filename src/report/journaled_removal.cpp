#include "report/journaled_removal.h"

#include "removal/reboot_flag.h"

namespace {

std::u16string Text(const char16_t* p) { return p != nullptr ? std::u16string(p) : std::u16string(); }

std::u16string KeyText(const char16_t* root, const char16_t* subkey, const char16_t* name = nullptr) {
    std::u16string text = Text(root) + u"\\" + Text(subkey);
    if (name != nullptr) text += u"\\" + Text(name);
    return text;
}

// 1 done or scheduled: which of the two, by the deferrals made meanwhile.
ActionOutcome DoneOrScheduled(unsigned deferredBefore, ActionOutcome done) {
    return DeferredOperationCount() != deferredBefore ? ActionOutcome::Scheduled : done;
}

bool Happened(ActionOutcome outcome) {
    return outcome == ActionOutcome::Removed || outcome == ActionOutcome::Renamed ||
           outcome == ActionOutcome::Scheduled || outcome == ActionOutcome::Repaired;
}

// The file of a repair as the remover sees it; its Commit keeps a copy of the
// original first and writes the outcome down.
class CJournaledRepairFile : public CRepairFile {
public:
    CJournaledRepairFile(CJournaledRemovalSystem& system, std::u16string path, std::unique_ptr<CRepairFile> inner)
        : system_(system), path_(std::move(path)), inner_(std::move(inner)) {}
    ~CJournaledRepairFile() override {
        // Written to but never made the file's content: the repair stopped half-way.
        if (written_ && !committed_) Finish(ActionOutcome::Failed, {});
    }
    uint64_t Size() override { return inner_->Size(); }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        return inner_->ReadAt(offset, buffer, count);
    }
    int64_t WriteAt(uint64_t offset, const uint8_t* buffer, std::size_t count) override {
        written_ = true;
        return inner_->WriteAt(offset, buffer, count);
    }
    bool Commit() override {
        committed_ = true;
        if (!written_) return inner_->Commit();
        ActionRecord action;
        system_.KeepCopy(path_.c_str(), u"repair", action);
        const bool done = inner_->Commit();
        Finish(done ? ActionOutcome::Repaired : ActionOutcome::Failed, std::move(action));
        return done;
    }

private:
    void Finish(ActionOutcome outcome, ActionRecord action) {
        action.kind = ActionKind::Repair;
        action.target = path_;
        action.outcome = outcome;
        if (outcome != ActionOutcome::Repaired) system_.DropCopy(action);
        system_.Record(std::move(action));
    }

    CJournaledRemovalSystem& system_;
    std::u16string path_;
    std::unique_ptr<CRepairFile> inner_;
    bool written_ = false;
    bool committed_ = false;
};

}  // namespace

CJournaledRemovalSystem::CJournaledRemovalSystem(CRemovalSystem& inner, CDetectionJournal& journal,
                                                 CQuarantine* quarantine, ScanStatistics& statistics)
    : inner_(inner), journal_(journal), quarantine_(quarantine), statistics_(statistics) {}

void CJournaledRemovalSystem::KeepCopy(const char16_t* path, const char16_t* actionName, ActionRecord& action) {
    if (quarantine_ == nullptr || path == nullptr) return;
    std::u16string family;
    if (const DetectionRecord* current = journal_.Current()) family = current->family + u"." + current->variant;
    QuarantineOutcome kept = quarantine_->Keep(path, family, actionName);
    if (kept.kind == QuarantineOutcome::kKept) action.quarantine = std::move(kept.entry);
    action.quarantineMissing = kept.kind == QuarantineOutcome::kMissing;
}

void CJournaledRemovalSystem::DropCopy(ActionRecord& action) {
    if (action.quarantine && quarantine_ != nullptr) quarantine_->Discard(action.quarantine->id);
    action.quarantine.reset();
    action.quarantineMissing = false;
}

int CJournaledRemovalSystem::TerminateProcessById(CScanController& controller, uint32_t processId) {
    const int result = inner_.TerminateProcessById(controller, processId);
    ActionRecord action;
    action.kind = ActionKind::Terminate;
    action.processId = processId;
    action.outcome = result == 1 ? ActionOutcome::Terminated : ActionOutcome::Failed;
    Record(std::move(action));
    return result;
}

void CJournaledRemovalSystem::TerminateProcesses(CScanController& controller,
                                                 const std::vector<InfectedProcessRecord>& list) {
    const uint32_t before = __atomic_load_n(&statistics_.terminatedProcesses, __ATOMIC_SEQ_CST);
    inner_.TerminateProcesses(controller, list);
    const uint32_t ended = __atomic_load_n(&statistics_.terminatedProcesses, __ATOMIC_SEQ_CST) - before;
    // The list ends as a whole: each process is known to be ended only when all are.
    const ActionOutcome outcome = ended >= list.size() ? ActionOutcome::Terminated
                                  : ended == 0        ? ActionOutcome::Failed
                                                      : ActionOutcome::Attempted;
    for (const InfectedProcessRecord& record : list) {
        ActionRecord action;
        action.kind = ActionKind::Terminate;
        action.target = record.path;
        action.processId = record.processId;
        action.outcome = outcome;
        Record(std::move(action));
    }
}

int CJournaledRemovalSystem::RemoveFile(CScanController& controller, const char16_t* path) {
    ActionRecord action;
    action.kind = ActionKind::Delete;
    action.target = Text(path);
    KeepCopy(path, u"delete", action);
    const unsigned deferred = DeferredOperationCount();
    const int result = inner_.RemoveFile(controller, path);
    action.outcome = result == 1   ? DoneOrScheduled(deferred, ActionOutcome::Removed)
                     : result == 2 ? ActionOutcome::Unchanged
                                   : ActionOutcome::Failed;
    if (!Happened(action.outcome)) DropCopy(action);
    Record(std::move(action));
    return result;
}

int CJournaledRemovalSystem::RenameFile(CScanController& controller, const char16_t* from, const char16_t* to) {
    ActionRecord action;
    action.kind = ActionKind::Rename;
    action.target = Text(from);
    action.destination = Text(to);
    KeepCopy(to, u"rename-over", action);  // nothing kept when there is no such file
    const unsigned deferred = DeferredOperationCount();
    const int result = inner_.RenameFile(controller, from, to);
    action.outcome = result == 1   ? DoneOrScheduled(deferred, ActionOutcome::Renamed)
                     : result == 3 ? ActionOutcome::Attempted  // handed to the shell
                                   : ActionOutcome::Unchanged;
    if (!Happened(action.outcome)) DropCopy(action);
    Record(std::move(action));
    return result;
}

int CJournaledRemovalSystem::CleanIniFile(CScanController& controller, const char16_t* text, int which) {
    const int result = inner_.CleanIniFile(controller, text, which);
    ActionRecord action;
    action.kind = ActionKind::CleanIni;
    action.target = (which == 1 ? u"system.ini: " : u"win.ini: ") + Text(text);
    action.outcome = result == 1 ? ActionOutcome::Changed : ActionOutcome::Unchanged;
    Record(std::move(action));
    return result;
}

int CJournaledRemovalSystem::RestoreHostsFile(CScanController& controller) {
    const int result = inner_.RestoreHostsFile(controller);
    ActionRecord action;
    action.kind = ActionKind::RestoreHosts;
    action.target = u"hosts";
    action.outcome = result == 1 ? ActionOutcome::Changed : result == 2 ? ActionOutcome::Failed
                                                                        : ActionOutcome::Unchanged;
    Record(std::move(action));
    return result;
}

int CJournaledRemovalSystem::RemoveFromHostsFile(CScanController& controller, const char16_t* host) {
    const int result = inner_.RemoveFromHostsFile(controller, host);
    ActionRecord action;
    action.kind = ActionKind::CleanHosts;
    action.target = Text(host);
    action.outcome = result == 1 ? ActionOutcome::Changed : result == 2 ? ActionOutcome::Failed
                                                                        : ActionOutcome::Unchanged;
    Record(std::move(action));
    return result;
}

void CJournaledRemovalSystem::RecordRegistry(std::u16string target) {
    ActionRecord action;
    action.kind = ActionKind::Registry;
    action.target = std::move(target);
    action.outcome = ActionOutcome::Attempted;
    Record(std::move(action));
}

void CJournaledRemovalSystem::RemoveRunEntries(CScanController& controller, const char16_t* text) {
    inner_.RemoveRunEntries(controller, text);
    RecordRegistry(u"Run entries: " + Text(text));
}

void CJournaledRemovalSystem::CleanSoberRunEntries(CScanController& controller, const char16_t* text) {
    inner_.CleanSoberRunEntries(controller, text);
    RecordRegistry(u"Run entries: " + Text(text));
}

void CJournaledRemovalSystem::DeleteRegistryKey(CScanController& controller, const char16_t* root,
                                                const char16_t* subkey) {
    inner_.DeleteRegistryKey(controller, root, subkey);
    RecordRegistry(u"delete key " + KeyText(root, subkey));
}

void CJournaledRemovalSystem::DeleteRegistryValue(CScanController& controller, const char16_t* root,
                                                  const char16_t* subkey, const char16_t* name) {
    inner_.DeleteRegistryValue(controller, root, subkey, name);
    RecordRegistry(u"delete value " + KeyText(root, subkey, name));
}

void CJournaledRemovalSystem::ReplaceRegistryValue(CScanController& controller, const char16_t* root,
                                                   const char16_t* subkey, const char16_t* name,
                                                   const char16_t* oldData, const char16_t* newData) {
    inner_.ReplaceRegistryValue(controller, root, subkey, name, oldData, newData);
    RecordRegistry(u"replace value " + KeyText(root, subkey, name));
}

void CJournaledRemovalSystem::CreateRegistryKey(CScanController& controller, const char16_t* root,
                                                const char16_t* subkey) {
    inner_.CreateRegistryKey(controller, root, subkey);
    RecordRegistry(u"create key " + KeyText(root, subkey));
}

void CJournaledRemovalSystem::SetRegistryValue(CScanController& controller, const char16_t* root,
                                               const char16_t* subkey, const char16_t* name,
                                               const char16_t* typeName, const char16_t* data) {
    inner_.SetRegistryValue(controller, root, subkey, name, typeName, data);
    RecordRegistry(u"set value " + KeyText(root, subkey, name));
}

std::unique_ptr<CRepairFile> CJournaledRemovalSystem::OpenForRepair(const char16_t* path) {
    std::unique_ptr<CRepairFile> file = inner_.OpenForRepair(path);
    if (!file) {
        ActionRecord action;
        action.kind = ActionKind::Repair;
        action.target = Text(path);
        action.outcome = ActionOutcome::Failed;
        Record(std::move(action));
        return nullptr;
    }
    return std::make_unique<CJournaledRepairFile>(*this, Text(path), std::move(file));
}
