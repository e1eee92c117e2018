// The malware description model: what a parsed script holds.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Kinds of removal action, stored in 8 bits; 1..14 are the keywords in order.
enum class MalwareActionKind : uint8_t {
    Unknown = 0,
    KillProcess = 1,
    RemoveFile = 2,
    RenameFile = 3,
    CleanSystemIni = 4,
    CleanWinIni = 5,
    RestoreHosts = 6,
    RemoveFromHosts = 7,
    ShowPopupInfo = 8,
    RemoveRunReg = 9,
    RemoveRegKey = 10,
    RemoveRegValue = 11,
    ReplaceRegValue = 12,
    AddRegKey = 13,
    AddRegValue = 14,
};

constexpr int kActionKindCount = 14;

// Upper-case keyword of `kind` ("KILL_PROCESS"), "UNKNOWN_ACTION" for other values.
const char* ActionKindName(MalwareActionKind kind);

// Kind of an action keyword compared without regard to case, or Unknown.
MalwareActionKind ActionKindFromKeyword(std::u16string_view word);

// The eight named-argument names shared by the parser and the executor.
namespace arg {
inline constexpr const char* kDirectory = "directory";
inline constexpr const char* kOldValue = "old_value";
inline constexpr const char* kNewValue = "new_value";
inline constexpr const char* kKey = "key";
inline constexpr const char* kValueName = "value_name";
inline constexpr const char* kValue = "value";
inline constexpr const char* kDataType = "data_type";
inline constexpr const char* kData = "data";
}  // namespace arg

struct CMalwareAction {
    MalwareActionKind kind = MalwareActionKind::Unknown;
    std::vector<std::u16string> arguments;
    std::map<std::string, std::u16string> namedArguments;

    // The named argument `name` (one of arg::k...), or null when absent.
    const std::u16string* Named(const char* name) const {
        auto it = namedArguments.find(name);
        return it == namedArguments.end() ? nullptr : &it->second;
    }
};

struct CMalwareDescription {
    std::u16string baseName;     // not empty
    std::u16string variantName;  // may be empty
    // Hexadecimal digits exactly as written, or none.
    std::optional<std::string> memorySignature;
    std::optional<std::string> fileSignature;
    std::vector<CMalwareAction> actions;
};
