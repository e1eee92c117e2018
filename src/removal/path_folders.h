// The folders a path passes through, for the checks that refuse to act
// through a link planted on the way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every folder of `path` below its root, outermost first, that is longer than
// `from` units: "C:\a\b\c.exe" gives "C:\a" and "C:\a\b"; with `from` 4
// (the length of "C:\a") only "C:\a\b". The root ("C:\", "\\server\share\")
// is never among them. The file itself is not either.
std::vector<std::u16string> FoldersBelow(std::u16string_view path, std::size_t from = 0);

// Length of `folder` (without a final backslash) when `path` lies inside it,
// ignoring letter case; nothing when it does not, or `folder` is empty.
std::optional<std::size_t> InsideFolder(std::u16string_view path, std::u16string_view folder);

// The folder that holds `path` (without the final backslash): "C:\a" for
// "C:\a\b.exe", "C:" for "C:\b.exe"; empty when the path names no folder.
std::u16string ContainingFolder(std::u16string_view path);
