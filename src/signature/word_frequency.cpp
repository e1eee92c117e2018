// g_wordFrequency: generated once by tools/gen_word_frequency.py from the
// byte pairs of ordinary Windows binaries and text; the build never
// regenerates it.
#include "signature/signature.h"

const uint32_t g_wordFrequency[65536] = {
#include "signature/word_frequency_table.inc"
};
