// Random records and bytes: every search method of the index gives what the
// plain walk over the removers gives (input layout: CheckFuzzInput).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "../tests/signature/index_fixtures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!CheckFuzzInput(data, size).empty()) std::abort();
    return 0;
}
