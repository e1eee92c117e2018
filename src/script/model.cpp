#include "script/model.h"

#include "common/text16.h"

namespace {

constexpr const char* kKeywords[kActionKindCount] = {
    "KILL_PROCESS",   "REMOVE_FILE",     "RENAME_FILE",       "CLEAN_SYSTEM_INI",
    "CLEAN_WIN_INI",  "RESTORE_HOSTS",   "REMOVE_FROM_HOSTS", "SHOW_POPUP_INFO",
    "REMOVE_RUN_REG", "REMOVE_REG_KEY",  "REMOVE_REG_VALUE",  "REPLACE_REG_VALUE",
    "ADD_REG_KEY",    "ADD_REG_VALUE",
};

}  // namespace

const char* ActionKindName(MalwareActionKind kind) {
    const int value = static_cast<int>(kind);
    if (value < 1 || value > kActionKindCount) return "UNKNOWN_ACTION";
    return kKeywords[value - 1];
}

MalwareActionKind ActionKindFromKeyword(std::u16string_view word) {
    for (int i = 0; i < kActionKindCount; ++i) {
        if (EqualsIgnoreCase(word, AsciiToUtf16(kKeywords[i]))) {
            return static_cast<MalwareActionKind>(i + 1);
        }
    }
    return MalwareActionKind::Unknown;
}
