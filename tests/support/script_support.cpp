#include "support/script_support.h"

#include <cstddef>
#include <cstdint>

extern const unsigned char g_embeddedScript[];
extern const std::size_t g_embeddedScript_size;

std::u16string EmbeddedScriptText() {
    std::u16string text;
    for (std::size_t i = 2; i + 1 < g_embeddedScript_size; i += 2) {
        text.push_back(static_cast<char16_t>(g_embeddedScript[i] | (g_embeddedScript[i + 1] << 8)));
    }
    return text;
}

std::u16string HexSignature(int seed, int bytes) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string out;
    uint32_t x = 0x9E3779B9u * static_cast<uint32_t>(seed + 1);
    for (int i = 0; i < bytes; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out.push_back(kDigits[(x >> 4) & 15]);
        out.push_back(kDigits[x & 15]);
    }
    return out;
}
