// The four built-in removers: their names and signature summaries.
#include "removers/remover.h"

namespace {

const uint8_t kSoberJMemoryHead[5] = {0x6E, 0x00, 0x6F, 0x00, 0x74};
const uint8_t kSoberJFileHead[5] = {0x50, 0x72, 0x6F, 0x6A, 0x65};
const uint8_t kSoberPMemoryHead[5] = {0x83, 0x96, 0x8E, 0x8A, 0x8D};
const uint8_t kSoberPFileHead[5] = {0xCE, 0x0E, 0x11, 0xE7, 0x4E};
const uint8_t kSoberYMemoryHead[5] = {0x50, 0x4B, 0x03, 0x04, 0x0A};
const uint8_t kSoberYFileHead[5] = {0x6E, 0x0D, 0x9A, 0xCE, 0x88};
const uint8_t kStanitHead[5] = {0x3F, 0x4D, 0x5A, 0x75, 0xF5};

}  // namespace

CSoberJRemover::CSoberJRemover()
    : CBuiltinRemover(kSoberJMemoryHead, kSoberJFileHead, 154, 39649, 261, 136, 108, 49, 0xDCFA638A, 0x1DF8B959) {}
CSoberPRemover::CSoberPRemover()
    : CBuiltinRemover(kSoberPMemoryHead, kSoberPFileHead, 22913, 39961, 128, 126, 118, 54, 0x0B8C0144, 0xB73090CE) {}
CSoberYRemover::CSoberYRemover()
    : CBuiltinRemover(kSoberYMemoryHead, kSoberYFileHead, 55390, 60442, 138, 64, 18, 56, 0x21554B81, 0x88486619) {}
CStanitRemover::CStanitRemover()
    : CBuiltinRemover(kStanitHead, kStanitHead, 44408, 44408, 91, 91, 30, 30, 0x3EC25CB7, 0x3EC25CB7) {}


CMalwareRemover* g_builtinRemovers[kBuiltinRemoverCount + 1] = {
    new CSoberJRemover, new CSoberPRemover, new CSoberYRemover, new CStanitRemover, nullptr,
};
