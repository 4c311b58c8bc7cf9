// SEI user data extraction over any video payload.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "sei.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] { return std::freopen("/dev/null", "w", stdout) != nullptr; }();
    (void)quiet;
    const auto records = zelplay::extractSei(data, size);
    for (const auto& r : records) {
        for (size_t i = r.length; i < sizeof r.data; ++i) {
            if (r.data[i] != 0)
                __builtin_trap();  // the unused data must be zero
        }
    }
    return 0;
}
