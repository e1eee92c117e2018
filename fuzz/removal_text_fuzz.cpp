// Arbitrary text through the hosts, INI and WININIT.INI transforms. The
// first byte picks the transform; a length byte cuts the host name, INI text
// or rename destination from the front, the rest is the file's text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text16.h"
#include "fuzz_input.h"
#include "removal/hosts_text.h"
#include "removal/ini_text.h"
#include "removal/wininit_text.h"

namespace {

constexpr std::u16string_view kLocalhostLine = u"\r\n127.0.0.1\t\tlocalhost\r\n";

bool IsScanSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

// Whether the line's first word does not begin with '#'.
bool IsEntry(std::u16string_view line) {
    std::size_t i = 0;
    while (i < line.size() && IsScanSpace(line[i])) ++i;
    return i < line.size() && line[i] != u'#';
}

// Walks `out` against the non-empty lines of `text`: each comes back ended
// by LF, as it was or with "# " in front; `disabled` gets whether it was.
// Returns where the walk ended in `out`, or npos when `out` does not fit.
std::size_t MatchLines(std::u16string_view text, std::u16string_view out, std::vector<bool>& disabled) {
    std::size_t at = 0, start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        if (end > start) {
            const std::u16string_view line = text.substr(start, end - start);
            const std::u16string_view rest = out.substr(at);
            const bool kept = rest.size() > line.size() && rest.substr(0, line.size()) == line &&
                              rest[line.size()] == u'\n';
            const bool commented = rest.size() > line.size() + 2 && rest.substr(0, 2) == u"# " &&
                                   rest.substr(2, line.size()) == line && rest[line.size() + 2] == u'\n';
            // Both readings cannot fit at once: the line would have to end in '\n'.
            if (kept == commented) return std::u16string_view::npos;
            const bool wasDisabled = commented;
            disabled.push_back(wasDisabled);
            at += line.size() + 1 + (wasDisabled ? 2 : 0);
        }
        start = end + 1;
    }
    return at;
}

void Hosts(CFuzzInput& in, bool all) {
    const std::u16string host = in.Text(in.U8());
    const std::u16string text = in.RestText();
    if (all) {
        const std::u16string out = DisableAllHostEntries(text);
        std::vector<bool> disabled;
        const std::size_t end = MatchLines(text, out, disabled);
        if (end == std::u16string_view::npos || std::u16string_view(out).substr(end) != kLocalhostLine) std::abort();
        // Every line that was an entry is disabled, none other.
        std::size_t i = 0, start = 0;
        while (start < text.size()) {
            std::size_t stop = text.find(u'\n', start);
            if (stop == std::u16string::npos) stop = text.size();
            if (stop > start && disabled[i++] != IsEntry(std::u16string_view(text).substr(start, stop - start))) {
                std::abort();
            }
            start = stop + 1;
        }
        // What is left has no entry: doing it again only adds another localhost line.
        const std::u16string_view kept = std::u16string_view(out).substr(0, end);
        if (DisableAllHostEntries(kept) != out) std::abort();
        if (DisableHostEntries(kept, host)) std::abort();
        return;
    }
    const std::optional<std::u16string> out = DisableHostEntries(text, host);
    if (!out) return;
    std::vector<bool> disabled;
    if (MatchLines(text, *out, disabled) != out->size()) std::abort();
    bool any = false;
    std::size_t i = 0, start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find(u'\n', start);
        if (stop == std::u16string::npos) stop = text.size();
        if (stop > start) {
            const std::u16string_view line = std::u16string_view(text).substr(start, stop - start);
            // Only entries that name the host are disabled.
            if (disabled[i] && (!IsEntry(line) || FindIgnoreCase(line, host) == std::u16string_view::npos)) {
                std::abort();
            }
            any = any || disabled[i];
            ++i;
        }
        start = stop + 1;
    }
    if (!any) std::abort();
    if (DisableHostEntries(*out, host)) std::abort();  // nothing left to disable
}

void Ini(CFuzzInput& in) {
    const std::u16string needle = in.Text(in.U8());
    const std::u16string section = in.RestText();
    const std::vector<IniRewrite> rewrites = SelectIniRewrites(section, needle);
    if (needle.empty() && !rewrites.empty()) std::abort();
    // The entries of the section in order, up to the empty one.
    std::vector<std::u16string_view> entries;
    const std::u16string_view view(section);
    for (std::size_t start = 0; start < view.size() && view[start] != 0;) {
        std::size_t end = view.find(u'\0', start);
        if (end == std::u16string_view::npos) end = view.size();
        entries.push_back(view.substr(start, end - start));
        start = end + 1;
    }
    // The rewrites are the entries whose value (after the first '=') holds
    // the text, in order, found here by trying every position.
    std::vector<std::u16string_view> keys;
    for (const std::u16string_view entry : entries) {
        const std::size_t eq = entry.find(u'=');
        if (eq == std::u16string_view::npos || needle.empty()) continue;
        const std::u16string_view value = entry.substr(eq + 1);
        bool holds = false;
        for (std::size_t k = 0; !holds && k + needle.size() <= value.size(); ++k) {
            holds = EqualsIgnoreCase(value.substr(k, needle.size()), needle);
        }
        if (holds) keys.push_back(entry.substr(0, eq));
    }
    if (keys.size() != rewrites.size()) std::abort();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (rewrites[i].key != keys[i]) std::abort();
        if (rewrites[i].value != (EqualsIgnoreCase(keys[i], u"shell") ? u"explorer.exe" : u"")) std::abort();
    }
}

void Wininit(CFuzzInput& in) {
    const std::u16string destination = in.Text(in.U8());
    const std::u16string source = in.Text(in.U8());
    const std::u16string text = in.RestText();
    const std::u16string out = AddWininitRename(text, destination, source);
    const std::u16string line = u"[rename]\r\n" + destination + u"=" + source;
    const std::size_t p = FindIgnoreCase(text, u"[rename]");
    if (p == std::u16string::npos) {
        if (out != text + line + u"\r\n") std::abort();
    } else if (out != text.substr(0, p) + line + text.substr(p + 8)) {
        std::abort();
    }
    // The section header is found where the line went in, not earlier.
    if (FindIgnoreCase(out, u"[rename]") != (p == std::u16string::npos ? text.size() : p)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzInput in(data, size);
    switch (in.U8() % 4) {
    case 0: Hosts(in, true); break;
    case 1: Hosts(in, false); break;
    case 2: Ini(in); break;
    default: Wininit(in); break;
    }
    return 0;
}
