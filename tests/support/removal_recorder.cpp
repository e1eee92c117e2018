#include "support/removal_recorder.h"

#include <algorithm>
#include <cstring>

#include "common/text16.h"

int64_t CMemoryRepairFile::ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, n);
    return static_cast<int64_t>(n);
}

int64_t CMemoryRepairFile::WriteAt(uint64_t offset, const uint8_t* buffer, std::size_t count) {
    if (offset + count > bytes_.size()) bytes_.resize(static_cast<std::size_t>(offset + count), 0);
    std::memcpy(bytes_.data() + offset, buffer, count);
    return static_cast<int64_t>(count);
}

CRecordingSystem::CRecordingSystem() : previous_(UseRemovalSystem(this)) {}
CRecordingSystem::~CRecordingSystem() { UseRemovalSystem(previous_); }

void CRecordingSystem::Record(const char16_t* name, std::initializer_list<const char16_t*> args) {
    std::u16string line = name;
    line += u'(';
    bool first = true;
    for (const char16_t* a : args) {
        if (!first) line += u'|';
        line += a != nullptr ? a : u"-";
        first = false;
    }
    calls.push_back(line + u')');
}

int CRecordingSystem::Result(const std::u16string& call) {
    auto it = results.find(call);
    return it == results.end() ? 1 : it->second;
}

int CRecordingSystem::TerminateProcessById(CScanController&, uint32_t processId) {
    const std::u16string id = AsciiToUtf16(std::to_string(processId));
    Record(u"TerminateProcessById", {id.c_str()});
    auto it = terminateResults.find(processId);
    return it == terminateResults.end() ? 1 : it->second;
}

void CRecordingSystem::TerminateProcesses(CScanController&, const std::vector<InfectedProcessRecord>& list) {
    std::u16string ids;
    for (const InfectedProcessRecord& r : list) {
        if (!ids.empty()) ids += u',';
        ids += AsciiToUtf16(std::to_string(r.processId));
    }
    Record(u"TerminateProcesses", {ids.c_str()});
}

void CRecordingSystem::FindProcessesByName(const char16_t* name, std::vector<InfectedProcessRecord>& list) {
    auto it = processes.find(name);
    if (it == processes.end()) return;
    for (uint32_t id : it->second) list.push_back(ProcessRecordOf(name, id));
}

int CRecordingSystem::RemoveFile(CScanController&, const char16_t* path) {
    Record(u"RemoveFile", {path});
    auto it = removeResults.find(path);
    return it == removeResults.end() ? removeDefault : it->second;
}

int CRecordingSystem::RenameFile(CScanController&, const char16_t* from, const char16_t* to) {
    Record(u"RenameFile", {from, to});
    return Result(calls.back());
}

int CRecordingSystem::CleanIniFile(CScanController&, const char16_t* text, int which) {
    const std::u16string w = which == 1 ? u"1" : u"2";
    Record(u"CleanIniFile", {text, w.c_str()});
    return Result(calls.back());
}

int CRecordingSystem::RestoreHostsFile(CScanController&) {
    Record(u"RestoreHostsFile", {});
    return Result(calls.back());
}

int CRecordingSystem::RemoveFromHostsFile(CScanController&, const char16_t* host) {
    Record(u"RemoveFromHostsFile", {host});
    return Result(calls.back());
}

void CRecordingSystem::ShowPopup(const char16_t* text) { Record(u"ShowPopup", {text}); }
void CRecordingSystem::RemoveRunEntries(CScanController&, const char16_t* text) { Record(u"RemoveRunEntries", {text}); }
void CRecordingSystem::CleanSoberRunEntries(CScanController&, const char16_t* text) {
    Record(u"CleanSoberRunEntries", {text});
}
void CRecordingSystem::DeleteRegistryKey(CScanController&, const char16_t* root, const char16_t* subkey) {
    Record(u"DeleteRegistryKey", {root, subkey});
}
void CRecordingSystem::DeleteRegistryValue(CScanController&, const char16_t* root, const char16_t* subkey,
                                           const char16_t* name) {
    Record(u"DeleteRegistryValue", {root, subkey, name});
}
void CRecordingSystem::ReplaceRegistryValue(CScanController&, const char16_t* root, const char16_t* subkey,
                                            const char16_t* name, const char16_t* oldData, const char16_t* newData) {
    Record(u"ReplaceRegistryValue", {root, subkey, name, oldData, newData});
}
void CRecordingSystem::CreateRegistryKey(CScanController&, const char16_t* root, const char16_t* subkey) {
    Record(u"CreateRegistryKey", {root, subkey});
}
void CRecordingSystem::SetRegistryValue(CScanController&, const char16_t* root, const char16_t* subkey,
                                        const char16_t* name, const char16_t* typeName, const char16_t* data) {
    Record(u"SetRegistryValue", {root, subkey, name, typeName, data});
}

std::unique_ptr<CRepairFile> CRecordingSystem::OpenForRepair(const char16_t* path) {
    Record(u"OpenForRepair", {path});
    if (file == nullptr) return nullptr;
    return std::make_unique<CMemoryRepairFile>(*file);
}

CTestSession::CTestSession() : host(std::u16string()), controller(output, host, {}, {}) {}

InfectedProcessRecord ProcessRecordOf(const std::u16string& path, uint32_t processId) {
    InfectedProcessRecord r;
    const std::size_t n = std::min<std::size_t>(path.size(), 259);
    std::copy(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(n), r.path);
    r.processId = processId;
    return r;
}
