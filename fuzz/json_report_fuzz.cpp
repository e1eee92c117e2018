// Hostile names (a file or module path, a host name) through the report's
// JSON: every string literal is well formed, holds no raw control character,
// and decodes back to exactly the UTF-16 text it was made from, so no name
// can end its string early or add fields of its own to the document.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "report/json_report.h"

namespace {

uint32_t HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    std::abort();
}

// One UTF-8 sequence at `at`, as UTF-16 units; aborts on a malformed one.
void DecodeUtf8(std::string_view s, std::size_t& at, std::u16string& out) {
    const uint8_t lead = static_cast<uint8_t>(s[at]);
    const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || at + length > s.size()) std::abort();
    uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        const uint8_t b = static_cast<uint8_t>(s[at + i]);
        if ((b & 0xC0) != 0x80) std::abort();
        c = c << 6 | (b & 0x3F);
    }
    static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) std::abort();  // overlong or a raw surrogate
    if (c >= 0x10000) {
        out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(c));
    }
    at += length;
}

// The text of the JSON string literal `s` (RFC 8259), or abort.
std::u16string DecodeLiteral(std::string_view s) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') std::abort();
    std::u16string out;
    for (std::size_t at = 1; at + 1 < s.size();) {
        const char c = s[at];
        if (static_cast<uint8_t>(c) < 0x20 || c == '"') std::abort();
        if (c != '\\') {
            DecodeUtf8(s, at, out);
            continue;
        }
        if (at + 2 >= s.size()) std::abort();
        const char e = s[at + 1];
        at += 2;
        switch (e) {
        case '"': out.push_back(u'"'); break;
        case '\\': out.push_back(u'\\'); break;
        case '/': out.push_back(u'/'); break;
        case 'b': out.push_back(u'\b'); break;
        case 'f': out.push_back(u'\f'); break;
        case 'n': out.push_back(u'\n'); break;
        case 'r': out.push_back(u'\r'); break;
        case 't': out.push_back(u'\t'); break;
        case 'u': {
            if (at + 4 > s.size() - 1) std::abort();  // four digits before the closing quote
            uint32_t unit = 0;
            for (int i = 0; i < 4; ++i) unit = unit << 4 | HexValue(s[at + i]);
            out.push_back(static_cast<char16_t>(unit));
            at += 4;
            break;
        }
        default: std::abort();
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CFuzzInput in(data, size);
    const std::u16string text = in.RestText();
    const std::string literal = JsonString(text);
    if (DecodeLiteral(literal) != text) std::abort();
    // Inside a detection record too: the path cannot reach outside its string.
    DetectionRecord record;
    record.family = u"F";
    record.path = text;
    const std::string records = DetectionsJson({record}, "");
    if (!text.empty() && records.find("\"path\": " + literal + ",\n") == std::string::npos) std::abort();
    return 0;
}
