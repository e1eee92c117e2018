// UTF-16 text helpers shared by the platform-free code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Upper case of `c` for ASCII and Latin-1 letters; other units unchanged.
char16_t FoldCase16(char16_t c);

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// Position of the first occurrence of `needle` in `hay` at or after `from`,
// ignoring case, or npos.
std::size_t FindIgnoreCase(std::u16string_view hay, std::u16string_view needle,
                           std::size_t from = 0);

// Lossless conversions; invalid sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Widens 8-bit ASCII text.
std::u16string AsciiToUtf16(std::string_view text);

// One argument of Format16: a number or a text.
class FormatArg {
public:
    FormatArg(int v) : number_(v) {}
    FormatArg(unsigned v) : number_(v) {}
    FormatArg(long long v) : number_(v) {}
    FormatArg(std::u16string_view v) : text_(v), isText_(true) {}
    FormatArg(const char16_t* v) : text_(v), isText_(true) {}
    FormatArg(const std::u16string& v) : text_(v), isText_(true) {}

    long long Number() const { return number_; }
    std::u16string_view Text() const { return text_; }
    bool IsText() const { return isText_; }

private:
    long long number_ = 0;
    std::u16string_view text_;
    bool isText_ = false;
};

// printf-style formatting of UTF-16 text. Understands %d, %u, %X, %x with an
// optional '0' flag and width (as in "%3d", "%02X"), %s and %%. A missing
// argument formats as nothing; an argument of the wrong kind as its other form.
std::u16string Format16(std::u16string_view format,
                        std::initializer_list<FormatArg> args = {});
