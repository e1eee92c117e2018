// CScriptedMalware::Remove: the headline, the infected processes or file,
// then every action of the description dispatched to the removal primitives.
// System-wide actions run only at the first detection of the description.
#include "removers/action_executor.h"

#include <vector>

#include "common/string_table.h"
#include "common/text16.h"
#include "removers/removal_system.h"
#include "removers/remover.h"
#include "scan/scan_controller.h"

namespace {

constexpr std::u16string_view kInfectedFile = u"%infected_file%";
constexpr std::u16string_view kInfectedProcesses = u"%infected_processes%";

bool IsInfectedFile(std::u16string_view word) { return EqualsIgnoreCase(word, kInfectedFile); }

}  // namespace

bool SplitKeyPath(std::u16string_view word, std::u16string& root, std::u16string& subkey) {
    const std::size_t slash = word.find(u'\\');
    if (slash == std::u16string_view::npos) return false;
    root.assign(word.substr(0, slash));
    subkey.assign(word.substr(slash + 1));
    return true;
}

void CScriptedMalware::Remove(CScanController& controller, const char16_t* path, const void* detail,
                              DetectionSource source, bool) {
    const bool memory = source == DetectionSource::Memory;
    if (memory ? detail == nullptr : path == nullptr) return;
    CRemovalSystem& system = GetRemovalSystem();
    static const std::vector<InfectedProcessRecord> kNoProcesses;
    const std::vector<InfectedProcessRecord>& processes =
        memory ? *static_cast<const std::vector<InfectedProcessRecord>*>(detail) : kNoProcesses;

    const std::u16string name = Format16(u"%s.%s", {GetFamilyName(), GetVariantName()});
    const std::u16string headline =
        memory ? std::u16string(LoadText(IDS_FOUND_IN_MEMORY)) : Format16(LoadText(IDS_FOUND_IN_FILE), {path});
    controller.PrintHighlighted(name, headline.c_str());

    if (memory) {
        std::vector<InfectedProcessRecord> killList;
        for (const CMalwareAction& action : actions_) {
            if (action.kind != MalwareActionKind::KillProcess) continue;
            for (const std::u16string& word : action.arguments) {
                if (EqualsIgnoreCase(word, kInfectedProcesses)) {
                    killList.insert(killList.end(), processes.begin(), processes.end());
                } else {
                    system.FindProcessesByName(word.c_str(), killList);
                }
            }
            break;  // later KILL_PROCESS lines are never used
        }
        if (!killList.empty()) {
            controller.Print(LoadText(killList.size() == 1 ? IDS_TERMINATING_PROCESS : IDS_TERMINATING_PROCESSES));
            system.TerminateProcesses(controller, killList);
            controller.Print(LoadText(IDS_DONE));
        }
        if (GetMemorySignatureLength() == 0) {
            controller.Print(LoadText(IDS_REMOVING_EXECUTABLES));
            bool removed = false;
            for (const InfectedProcessRecord& record : processes) {
                if (system.RemoveFile(controller, record.path) != 0) removed = true;
            }
            controller.Print(LoadText(removed ? IDS_DONE : IDS_FAILED));
        }
    } else {
        controller.Print(LoadText(IDS_REMOVING_EXECUTABLE));
        controller.Print(LoadText(system.RemoveFile(controller, path) == 1 ? IDS_DONE : IDS_FAILED));
    }

    const bool first = isFirstRemoval;
    // Runs `call` with the infected file, or with every infected process's
    // path; true when one of them returned 1.
    auto forInfected = [&](auto call) {
        if (!memory) return call(path) == 1;
        bool any = false;
        for (const InfectedProcessRecord& record : processes) {
            if (call(record.path) == 1) any = true;
        }
        return any;
    };
    std::u16string root, subkey;
    for (const CMalwareAction& action : actions_) {
        const std::vector<std::u16string>& words = action.arguments;
        switch (action.kind) {
        case MalwareActionKind::RemoveFile:
            if (!first) break;
            for (const std::u16string& word : words) {
                if (IsInfectedFile(word)) continue;  // names no file here
                if (system.RemoveFile(controller, word.c_str()) == 1) {
                    controller.Print(Format16(LoadText(IDS_DELETING_COMPANION), {word}));
                    controller.Print(LoadText(IDS_DONE));
                }
            }
            break;
        case MalwareActionKind::RenameFile: {
            if (!first) break;
            const std::u16string* directory = action.Named(arg::kDirectory);
            const std::u16string* oldValue = action.Named(arg::kOldValue);
            const std::u16string* newValue = action.Named(arg::kNewValue);
            std::u16string from, to;
            if (action.namedArguments.size() == 3 && directory && oldValue && newValue) {
                from = *directory + u"\\" + *oldValue;
                to = *directory + u"\\" + *newValue;
            } else if (action.namedArguments.size() == 2 && oldValue && newValue) {
                from = *oldValue;
                to = *newValue;
            } else {
                break;
            }
            if (system.RenameFile(controller, from.c_str(), to.c_str()) == 1) {
                controller.Print(Format16(LoadText(IDS_RENAMING), {from, to}));
                controller.Print(LoadText(IDS_DONE));
            }
            break;
        }
        case MalwareActionKind::CleanSystemIni:
        case MalwareActionKind::CleanWinIni: {
            if (words.empty()) break;
            const bool systemIni = action.kind == MalwareActionKind::CleanSystemIni;
            const int which = systemIni ? 1 : 2;
            bool cleaned = false;
            if (IsInfectedFile(words[0])) {
                cleaned = forInfected([&](const char16_t* p) { return system.CleanIniFile(controller, p, which); });
            } else if (first) {
                cleaned = system.CleanIniFile(controller, words[0].c_str(), which) == 1;
            }
            if (cleaned) {
                controller.Print(Format16(LoadText(IDS_CLEANING_INI), {systemIni ? u"system.ini" : u"win.ini"}));
                controller.Print(LoadText(IDS_DONE));
            }
            break;
        }
        case MalwareActionKind::RestoreHosts:
            if (first && system.RestoreHostsFile(controller) == 1) {
                controller.Print(LoadText(IDS_RESTORING_HOSTS));
                controller.Print(LoadText(IDS_DONE));
            }
            break;
        case MalwareActionKind::RemoveFromHosts: {
            if (!first) break;
            bool cleaned = false;
            for (const std::u16string& word : words) {
                if (system.RemoveFromHostsFile(controller, word.c_str()) == 1) cleaned = true;
            }
            if (cleaned) {
                controller.Print(LoadText(IDS_CLEANING_HOSTS));
                controller.Print(LoadText(IDS_DONE));
            }
            break;
        }
        case MalwareActionKind::ShowPopupInfo:
            if (words.empty()) break;
            if (controller.Unattended()) {
                // A box no one closes would hold the scan forever.
                controller.Print(words[0]);
                controller.Print(u"\r\n");
            } else {
                system.ShowPopup(words[0].c_str());
            }
            break;
        case MalwareActionKind::RemoveRunReg:
            registryTouched = true;
            for (const std::u16string& word : words) {
                if (IsInfectedFile(word)) {
                    forInfected([&](const char16_t* p) {
                        system.RemoveRunEntries(controller, p);
                        return 0;
                    });
                } else if (first) {
                    system.RemoveRunEntries(controller, word.c_str());
                }
            }
            break;
        case MalwareActionKind::RemoveRegKey:
            registryTouched = true;
            if (!first) break;
            for (const std::u16string& word : words) {
                if (SplitKeyPath(word, root, subkey)) system.DeleteRegistryKey(controller, root.c_str(), subkey.c_str());
            }
            break;
        case MalwareActionKind::RemoveRegValue: {
            registryTouched = true;
            const std::u16string* key = action.Named(arg::kKey);
            if (!first || key == nullptr || !SplitKeyPath(*key, root, subkey)) break;
            for (const std::u16string& word : words) {
                system.DeleteRegistryValue(controller, root.c_str(), subkey.c_str(), word.c_str());
            }
            break;
        }
        case MalwareActionKind::ReplaceRegValue: {
            registryTouched = true;
            const std::u16string* key = action.Named(arg::kKey);
            const std::u16string* valueName = action.Named(arg::kValueName);
            const std::u16string* oldValue = action.Named(arg::kOldValue);
            const std::u16string* newValue = action.Named(arg::kNewValue);
            if (!key || !valueName || !oldValue || !newValue || !SplitKeyPath(*key, root, subkey)) break;
            auto replace = [&](const char16_t* old) {
                system.ReplaceRegistryValue(controller, root.c_str(), subkey.c_str(), valueName->c_str(), old,
                                            newValue->c_str());
                return 0;
            };
            if (IsInfectedFile(*oldValue)) {
                forInfected(replace);
            } else if (first) {
                replace(oldValue->c_str());
            }
            break;
        }
        case MalwareActionKind::AddRegKey:
            registryTouched = true;
            if (!first) break;
            for (const std::u16string& word : words) {
                if (SplitKeyPath(word, root, subkey)) system.CreateRegistryKey(controller, root.c_str(), subkey.c_str());
            }
            break;
        case MalwareActionKind::AddRegValue: {
            registryTouched = true;
            const std::u16string* key = action.Named(arg::kKey);
            const std::u16string* value = action.Named(arg::kValue);
            if (!first || !key || !value || !SplitKeyPath(*key, root, subkey)) break;
            const std::u16string* typeName = action.Named(arg::kDataType);
            const std::u16string* data = action.Named(arg::kData);
            system.SetRegistryValue(controller, root.c_str(), subkey.c_str(), value->c_str(),
                                    typeName ? typeName->c_str() : nullptr, data ? data->c_str() : nullptr);
            break;
        }
        default:  // KILL_PROCESS ran above; unknown kinds do nothing
            break;
        }
    }

    if (registryTouched) {
        controller.Print(LoadText(IDS_CLEANING_REGISTRY));
        controller.Print(LoadText(IDS_DONE));
        registryTouched = false;
    }
    controller.PrintHighlighted(name, LoadText(IDS_SUCCESSFULLY_REMOVED));
    isFirstRemoval = false;
}
