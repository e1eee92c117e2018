// UTF-16 helpers: case folding as the scripts and the registry need it
// (ASCII and Latin-1), conversions at the tool's edges, and a small printf.
//
//   Format16(u"Line %3d: Signature empty.\n", {7})  ->  u"Line   7: Signature empty.\n"
#include "common/text16.h"

#include <vector>

char16_t FoldCase16(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    return c;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase16(a[i]) != FoldCase16(b[i])) return false;
    }
    return true;
}

std::size_t FindIgnoreCase(std::u16string_view hay, std::u16string_view needle,
                           std::size_t from) {
    if (needle.empty()) return from <= hay.size() ? from : std::u16string_view::npos;
    if (hay.size() < needle.size()) return std::u16string_view::npos;
    for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
        if (EqualsIgnoreCase(hay.substr(i, needle.size()), needle)) return i;
    }
    return std::u16string_view::npos;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else {
            std::size_t need = b >= 0xF0 && b < 0xF5 ? 3 : b >= 0xE0 ? 2 : b >= 0xC2 && b < 0xE0 ? 1 : 0;
            if (b >= 0xF5) need = 0;
            uint32_t v = need == 3 ? (b & 0x07u) : need == 2 ? (b & 0x0Fu) : (b & 0x1Fu);
            std::size_t k = 1;
            for (; need != 0 && k <= need && i + k < text.size(); ++k) {
                const unsigned char c = static_cast<unsigned char>(text[i + k]);
                if ((c & 0xC0) != 0x80) break;
                v = (v << 6) | (c & 0x3Fu);
            }
            if (need != 0 && k == need + 1) {
                const bool overlong = (need == 2 && v < 0x800) || (need == 3 && v < 0x10000);
                const bool surrogate = v >= 0xD800 && v <= 0xDFFF;
                if (!overlong && !surrogate && v <= 0x10FFFF) {
                    cp = v;
                    len = need + 1;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() &&
            text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::u16string AsciiToUtf16(std::string_view text) {
    std::u16string out(text.size(), u'\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        out[i] = static_cast<unsigned char>(text[i]);
    }
    return out;
}

namespace {

void AppendNumber(std::u16string& out, long long value, int base, bool upper,
                  bool isSigned, std::size_t width, bool zeroPad) {
    unsigned long long magnitude;
    bool negative = false;
    if (isSigned && value < 0) {
        negative = true;
        magnitude = 0ull - static_cast<unsigned long long>(value);
    } else if (isSigned) {
        magnitude = static_cast<unsigned long long>(value);
    } else {
        magnitude = static_cast<unsigned long long>(value) & 0xFFFFFFFFull;
    }
    char16_t digits[24];
    std::size_t n = 0;
    do {
        const unsigned d = static_cast<unsigned>(magnitude % base);
        digits[n++] = static_cast<char16_t>(d < 10 ? u'0' + d : (upper ? u'A' : u'a') + d - 10);
        magnitude /= base;
    } while (magnitude != 0);
    const std::size_t len = n + (negative ? 1 : 0);
    if (!zeroPad && width > len) out.append(width - len, u' ');
    if (negative) out.push_back(u'-');
    if (zeroPad && width > len) out.append(width - len, u'0');
    while (n != 0) out.push_back(digits[--n]);
}

}  // namespace

std::u16string Format16(std::u16string_view format, std::initializer_list<FormatArg> args) {
    std::u16string out;
    out.reserve(format.size() + 32);
    const FormatArg* next = args.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char16_t c = format[i];
        if (c != u'%' || i + 1 == format.size()) {
            out.push_back(c);
            continue;
        }
        std::size_t j = i + 1;
        if (format[j] == u'%') {
            out.push_back(u'%');
            i = j;
            continue;
        }
        bool zeroPad = false;
        if (format[j] == u'0') {
            zeroPad = true;
            ++j;
        }
        std::size_t width = 0;
        while (j < format.size() && format[j] >= u'0' && format[j] <= u'9') {
            width = width * 10 + (format[j] - u'0');
            ++j;
        }
        if (j == format.size()) {
            out.append(format.substr(i));
            break;
        }
        const char16_t conv = format[j];
        const FormatArg* arg = next != args.end() ? next++ : nullptr;
        switch (conv) {
        case u'd':
        case u'u':
        case u'x':
        case u'X':
            if (arg != nullptr && !arg->IsText()) {
                AppendNumber(out, arg->Number(), conv == u'x' || conv == u'X' ? 16 : 10,
                             conv == u'X', conv == u'd', width, zeroPad);
            } else if (arg != nullptr) {
                out.append(arg->Text());
            }
            break;
        case u's':
            if (arg != nullptr && arg->IsText()) {
                if (width > arg->Text().size()) out.append(width - arg->Text().size(), u' ');
                out.append(arg->Text());
            } else if (arg != nullptr) {
                AppendNumber(out, arg->Number(), 10, false, true, width, false);
            }
            break;
        default:
            out.append(format.substr(i, j - i + 1));
            if (arg != nullptr) --next;
            break;
        }
        i = j;
    }
    return out;
}
