#include "removal/path_folders.h"

#include "common/text16.h"

namespace {

// Units of the root of `path`: "C:\" (3), "\\server\share\" (up to the
// backslash after the share name), "\" (1); 0 for a relative path.
std::size_t RootLength(std::u16string_view path) {
    if (path.size() >= 2 && path[1] == u':') return path.size() >= 3 && path[2] == u'\\' ? 3 : 2;
    if (path.size() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
        const std::size_t server = path.find(u'\\', 2);
        if (server == std::u16string_view::npos) return path.size();
        const std::size_t share = path.find(u'\\', server + 1);
        return share == std::u16string_view::npos ? path.size() : share + 1;
    }
    return !path.empty() && path[0] == u'\\' ? 1 : 0;
}

}  // namespace

std::vector<std::u16string> FoldersBelow(std::u16string_view path, std::size_t from) {
    std::vector<std::u16string> folders;
    for (std::size_t at = RootLength(path); at < path.size(); ++at) {
        if (path[at] != u'\\' || at <= from || path[at - 1] == u'\\') continue;
        folders.emplace_back(path.substr(0, at));
    }
    return folders;
}

std::optional<std::size_t> InsideFolder(std::u16string_view path, std::u16string_view folder) {
    while (!folder.empty() && folder.back() == u'\\') folder.remove_suffix(1);
    if (folder.empty() || path.size() <= folder.size() + 1 || path[folder.size()] != u'\\') return std::nullopt;
    if (!EqualsIgnoreCase(path.substr(0, folder.size()), folder)) return std::nullopt;
    return folder.size();
}

std::u16string ContainingFolder(std::u16string_view path) {
    const std::size_t slash = path.rfind(u'\\');
    return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash));
}
