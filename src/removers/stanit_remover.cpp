// W32/Stanit: a running copy is stopped by terminating its process, an
// infected executable is repaired in place, the dropper is deleted.
#include "common/string_table.h"
#include "common/text16.h"
#include "removers/removal_system.h"
#include "removers/remover.h"
#include "removers/stanit_repair.h"
#include "scan/scan_controller.h"

int32_t CStanitRemover::Repair(const char16_t* path) {
    system_ = &GetRemovalSystem();
    const ExecutableHeaders& headers = system_->Headers();
    if (StanitEntryOffset(headers) == stanit::kDropperEntryOffset) return kStanitDropper;
    std::unique_ptr<CRepairFile> file = system_->OpenForRepair(path);
    const int32_t result = RepairStanitFile(file.get(), headers);
    // Only a whole repair reaches the file: a failed step leaves it as it was.
    if (file && (result == kStanitRepaired || result == kStanitHostOverwritten) && !file->Commit()) {
        return kStanitIoFailed;
    }
    return result;
}

void CStanitRemover::Remove(CScanController& controller, const char16_t* path, const void* detail,
                            DetectionSource, bool) {
    system_ = &GetRemovalSystem();
    const char16_t* family = GetFamilyName();
    const uint32_t processId = detail != nullptr ? *static_cast<const uint32_t*>(detail) : 0;
    if (processId != 0) {
        controller.PrintHighlighted(family, LoadText(IDS_INFECTOR_IN_MEMORY));
        for (StringId warning : {IDS_WARN_DO_NOT_RUN, IDS_WARN_DO_NOT_INTERRUPT, IDS_WARN_RESCAN}) {
            controller.PrintHighlighted(LoadText(IDS_WARNING_PREFIX), LoadText(warning));
        }
        controller.Print(LoadText(IDS_TERMINATING_PROCESS));
        (void)system_->TerminateProcessById(controller, processId);
        controller.Print(LoadText(IDS_DONE));
        controller.PrintHighlighted(family, LoadText(IDS_REMOVED_FROM_MEMORY));
        return;
    }
    if (path == nullptr) return;
    controller.PrintHighlighted(family, Format16(LoadText(IDS_FOUND_IN_FILE), {path}).c_str());
    controller.Print(LoadText(IDS_REPAIRING_EXECUTABLE));
    switch (Repair(path)) {
    case kStanitRepaired:
        controller.Print(LoadText(IDS_DONE));
        controller.PrintHighlighted(family, LoadText(IDS_SUCCESSFULLY_REMOVED));
        ++controller.GetStatistics().removedFiles;
        break;
    case kStanitIoFailed:
        controller.Print(LoadText(IDS_FAILED));
        controller.PrintHighlighted(family, LoadText(IDS_NOT_REMOVED));
        break;
    case kStanitNotOpened:
        controller.Print(LoadText(IDS_FAILED_TO_OPEN));
        controller.PrintHighlighted(family, LoadText(IDS_NOT_REMOVED));
        break;
    case kStanitDropper:
        if (system_->RemoveFile(controller, path) != 0) {
            controller.Print(LoadText(IDS_REMOVING_DROPPER));
            controller.Print(LoadText(IDS_DONE));
        }
        break;
    case kStanitHostOverwritten:
        controller.Print(LoadText(IDS_HOST_PROGRAM_DESTROYED));
        controller.Print(LoadText(IDS_VIRUS_DISABLED));
        break;
    default:
        break;
    }
}
