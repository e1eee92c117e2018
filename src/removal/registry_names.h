// Names and data rules of the registry primitives that need no registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The seven full root names, in the order RootKeyFromName tries them.
constexpr int kRegistryRootCount = 7;
extern const char16_t* const kRegistryRootNames[kRegistryRootCount];

// Position of `name` in kRegistryRootNames (letter case matters), or -1.
int RegistryRootIndex(std::u16string_view name);

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

// "DWORD" -> 4, "BINARY" -> 3, anything else or null -> 1 (ignoring case).
uint32_t RegistryTypeFromName(const char16_t* name);

// The six Run keys below HKEY_LOCAL_MACHINE or a user's key, in visiting order.
constexpr int kRunKeyCount = 6;
extern const char16_t* const kRunKeyPaths[kRunKeyCount];

// True when `text` is non-empty and holds only the digits 0 to 9.
bool IsDecimalDigits(std::u16string_view text);

// The number a "%d" scan reads from `text` (leading white space and a sign
// allowed, wrapping to 32 bits), or nothing when it reads no digit.
std::optional<int32_t> ScanDecimal(std::u16string_view text);
