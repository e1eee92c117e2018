// Rewriting a system file whole without ever leaving it half written: the new
// content goes to a new file in the same folder, is flushed, and replaces the
// old file in one step; then it is read back and compared.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "removal/file_guard_win.h"

// Makes `bytes` the content of `path` (created when missing). On any failure
// the old file is left byte for byte and no new file stays behind. Hidden,
// system and read-only attributes are cleared for the replacement and set
// again after it. With `expected`, the path must still open a file of that
// identity just before the replacement. Call with file-system redirection as
// the caller wants the path resolved.
bool ReplaceFileContent(const std::u16string& path, std::string_view bytes,
                        const std::optional<FileIdentity>& expected = std::nullopt);
