// Sober.J, Sober.P and Sober.Y: the process is terminated, the executable
// removed, the Run entries naming it cleaned, and the companion files in the
// Windows and system folders deleted. On 64-bit Windows the system folder's
// companions are looked for in both system folders: a 32-bit worm writing to
// the system folder writes to SysWOW64.
#include <initializer_list>
#include <string>

#include "common/string_table.h"
#include "common/text16.h"
#include "removers/removal_system.h"
#include "removers/remover.h"
#include "scan/scan_controller.h"

namespace {

constexpr const char16_t* kStatus = u"\\Connection Wizard\\Status\\";
const std::initializer_list<const char16_t*> kSoberPWindowsNames = {
    u"packed1.sbr", u"packed2.sbr", u"packed3.sbr", u"sacri1.ggg", u"sacri2.ggg",
    u"sacri3.ggg",  u"voner1.von",  u"voner2.von",  u"voner3.von", u"fastso.ber"};
const std::initializer_list<const char16_t*> kSoberPSystemNames = {u"\\adcmmmmq.hjg", u"\\langeinf.lin",
                                                                   u"\\nonrunso.ber", u"\\seppelmx.smx",
                                                                   u"\\xcvfpokd.tqa"};

class CSoberSteps {
public:
    CSoberSteps(CBuiltinRemover& remover, CScanController& controller, CRemovalSystem& system)
        : name_(Format16(u"%s.%s", {remover.GetFamilyName(), remover.GetVariantName()})),
          controller_(controller),
          system_(system) {}

    void Headline(const char16_t* path, bool inMemory) {
        if (inMemory) {
            controller_.PrintHighlighted(name_, LoadText(IDS_FOUND_IN_MEMORY));
        } else {
            controller_.PrintHighlighted(name_, Format16(LoadText(IDS_FOUND_IN_FILE), {path}).c_str());
        }
    }
    void FinalLine() { controller_.PrintHighlighted(name_, LoadText(IDS_SUCCESSFULLY_REMOVED)); }
    void Print(StringId id) { controller_.Print(LoadText(id)); }

    // "removing executable ...done" only when the file was removed or
    // scheduled (1); a file missing or handled before (2) prints nothing.
    void RemoveFoundFile(const char16_t* path) {
        if (system_.RemoveFile(controller_, path) == 1) {
            Print(IDS_REMOVING_EXECUTABLE);
            Print(IDS_DONE);
        }
    }
    void CleanRunEntries(const char16_t* path) {
        Print(IDS_CLEANING_REGISTRY);
        system_.CleanSoberRunEntries(controller_, path);
        Print(IDS_DONE);
    }
    // Terminates, then removes the executable, with texts 67 and 68 for
    // what failed.
    void StopProcess(uint32_t processId, const char16_t* path) {
        Print(IDS_TERMINATING_PROCESS);
        Print(system_.TerminateProcessById(controller_, processId) == 1 ? IDS_DONE : IDS_DELETION_SCHEDULED);
        Print(IDS_REMOVING_EXECUTABLE);
        Print(system_.RemoveFile(controller_, path) != 0 ? IDS_DONE : IDS_REMOVED_AFTER_REBOOT);
    }

    // Full path of `name` (beginning with a backslash) in `directory`, or
    // empty when the folder is unknown.
    static std::u16string Companion(const char16_t* directory, std::u16string_view name) {
        if (directory == nullptr) return {};
        return Format16(u"%s%s", {directory, name});
    }
    void DeleteCompanion(const std::u16string& full) {
        if (full.empty()) return;
        // A missing companion (2) is skipped silently.
        if (system_.RemoveFile(controller_, full.c_str()) == 1) {
            controller_.Print(Format16(LoadText(IDS_DELETING_COMPANION), {full}));
            Print(IDS_DONE);
        }
    }
    void CleanCompanionRunEntries(const std::u16string& full) {
        if (full.empty()) return;
        Print(IDS_CLEANING_REGISTRY);
        controller_.Print(full);
        system_.CleanSoberRunEntries(controller_, full.c_str());
        controller_.Print(u"...");
        Print(IDS_DONE);
    }
    void DeleteInWindows(std::u16string_view name) { DeleteCompanion(Companion(system_.GetWindowsDir(), name)); }
    void DeleteInSystem(std::u16string_view name) {
        DeleteCompanion(Companion(system_.GetSystemDir(), name));
        DeleteCompanion(Companion(system_.GetSystemWow64Dir(), name));
    }
    void DeleteWithRunEntriesInWindows(std::u16string_view name) {
        const std::u16string full = Companion(system_.GetWindowsDir(), name);
        DeleteCompanion(full);
        CleanCompanionRunEntries(full);
    }

private:
    std::u16string name_;
    CScanController& controller_;
    CRemovalSystem& system_;
};

uint32_t ProcessIdOf(const void* detail) { return detail != nullptr ? *static_cast<const uint32_t*>(detail) : 0; }

}  // namespace

void CSoberJRemover::Remove(CScanController& controller, const char16_t* path, const void* detail, DetectionSource,
                            bool) {
    system_ = &GetRemovalSystem();
    if (path == nullptr) return;
    CSoberSteps steps(*this, controller, *system_);
    const uint32_t processId = ProcessIdOf(detail);
    steps.Headline(path, processId != 0);
    if (processId != 0) {
        steps.Print(IDS_TERMINATING_PROCESS);
        (void)system_->TerminateProcessById(controller, processId);
        steps.Print(IDS_DONE);
        steps.Print(IDS_REMOVING_EXECUTABLE);
        (void)system_->RemoveFile(controller, path);
        steps.Print(IDS_DONE);
    } else {
        steps.RemoveFoundFile(path);
    }
    steps.CleanRunEntries(path);
    for (const char16_t* name : {u"\\dgsfzipp.gmx", u"\\datamx.dam", u"\\sysmms32.lla", u"\\dgssxy.yoi",
                                 u"\\nonrunso.ber", u"\\Odin_Anon.Ger", u"\\read.me"}) {
        steps.DeleteInSystem(name);
    }
    steps.FinalLine();
}

void CSoberPRemover::Remove(CScanController& controller, const char16_t* path, const void* detail, DetectionSource,
                            bool moreFollow) {
    system_ = &GetRemovalSystem();
    if (path == nullptr) return;
    CSoberSteps steps(*this, controller, *system_);
    const uint32_t processId = ProcessIdOf(detail);
    const std::u16string status = kStatus;
    steps.Headline(path, processId != 0);
    if (processId != 0) {
        steps.StopProcess(processId, path);
        if (!moreFollow) {
            steps.DeleteInWindows(status + u"csrss.exe");
            const std::u16string services = CSoberSteps::Companion(system_->GetWindowsDir(), status + u"services.exe");
            steps.DeleteCompanion(services);
            steps.CleanCompanionRunEntries(services);
            steps.DeleteWithRunEntriesInWindows(status + u"smss.exe");
        }
    } else {
        steps.RemoveFoundFile(path);
        steps.CleanRunEntries(path);
        for (const char16_t* name : {u"csrss.exe", u"services.exe", u"smss.exe"}) steps.DeleteInWindows(status + name);
    }
    if (processId == 0 || !moreFollow) {
        for (const char16_t* name : kSoberPWindowsNames) steps.DeleteInWindows(status + name);
        for (const char16_t* name : kSoberPSystemNames) steps.DeleteInSystem(name);
    }
    steps.FinalLine();
}

void CSoberYRemover::Remove(CScanController& controller, const char16_t* path, const void* detail, DetectionSource,
                            bool moreFollow) {
    system_ = &GetRemovalSystem();
    if (path == nullptr) return;
    CSoberSteps steps(*this, controller, *system_);
    const uint32_t processId = ProcessIdOf(detail);
    steps.Headline(path, processId != 0);
    if (processId != 0) {
        steps.StopProcess(processId, path);
    } else {
        steps.RemoveFoundFile(path);
        steps.CleanRunEntries(path);
    }
    if (processId == 0 || !moreFollow) {
        for (const char16_t* name :
             {u"\\WinSecurity\\services.exe", u"\\WinSecurity\\smss.exe", u"\\WinSecurity\\csrss.exe"}) {
            steps.DeleteWithRunEntriesInWindows(name);
        }
        for (const char16_t* name :
             {u"\\WinSecurity\\starter.run", u"\\WinSecurity\\nexttroj.tro", u"\\WinSecurity\\socket1.ifo",
              u"\\WinSecurity\\socket2.ifo", u"\\WinSecurity\\socket3.ifo", u"\\WinSecurity\\mssock1.dli",
              u"\\WinSecurity\\mssock2.dli", u"\\WinSecurity\\mssock3.dli", u"\\WinSecurity\\winmem1.ory",
              u"\\WinSecurity\\winmem2.ory", u"\\WinSecurity\\winmem3.ory"}) {
            steps.DeleteInWindows(name);
        }
    }
    steps.FinalLine();
}
