// The source buffer pool under any sequence of allocations, frees, stray frees and resets.
// Every block is filled completely, so AddressSanitizer sees any overlap with the region's
// bookkeeping; the remaining space never exceeds what a fresh region offers (by more than
// the one unit a failed allocation leaves standing).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "source_buffer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    zelplay::SourceBuffer pool;
    const size_t bytes = 66560 + static_cast<size_t>(data[0]) * 8 + data[1];
    if (!pool.open(bytes))
        return 0;
    const int64_t fresh = pool.remainingBytes();
    struct Block {
        uint8_t* p;
        size_t n;
        uint8_t fill;
    };
    std::vector<Block> live;
    for (size_t i = 2; i + 1 < size; i += 2) {
        const uint8_t op = data[i], arg = data[i + 1];
        if (op < 160) {
            const size_t n = (static_cast<size_t>(op) << 8 | arg) % 30000;
            if (uint8_t* p = pool.allocate(n)) {
                std::memset(p, arg, n);
                live.push_back({p, n, arg});
            }
        } else if (op < 240 && !live.empty()) {
            const size_t k = arg % live.size();
            for (size_t j = 0; j < live[k].n; ++j) {
                if (live[k].p[j] != live[k].fill)
                    __builtin_trap();  // a block was overwritten
            }
            pool.release(live[k].p);
            live.erase(live.begin() + static_cast<long>(k));
        } else if (op < 250 && !live.empty()) {
            pool.release(live[arg % live.size()].p + 8);  // not a block: ignored
        } else if (op == 255) {
            pool.reset();
            live.clear();
        }
        // A failure reads as one free unit (0 bytes) even when none is left, so until the
        // next allocation recounts, the figure may run one unit over.
        if (pool.remainingBytes() > fresh + 8)
            __builtin_trap();
    }
    for (auto& b : live)
        pool.release(b.p);
    return 0;
}
