#include "pixels/halve.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pixels {

namespace {

inline std::uint8_t mean4(const std::uint8_t* a, const std::uint8_t* b) {
    return static_cast<std::uint8_t>((a[0] + a[1] + b[0] + b[1] + 2) >> 2);
}

// Halves one pair of rows into `outWidth` samples; returns how many it wrote, the rest being
// left to the plain loop.
int halveRowsWide(const std::uint8_t* a, const std::uint8_t* b, std::uint8_t* out, int outWidth) {
#if defined(__SSE2__)
    // 32 input samples of each row make 16 outputs. The even and odd samples of a row are
    // split into 16-bit lanes, so the four-sample sums and the rounding are exact.
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    const __m128i two = _mm_set1_epi16(2);
    auto pairSums = [&](const std::uint8_t* p) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        return _mm_add_epi16(_mm_and_si128(v, lowBytes), _mm_srli_epi16(v, 8));
    };
    int x = 0;
    for (; x + 16 <= outWidth; x += 16) {
        const std::uint8_t* pa = a + 2 * x;
        const std::uint8_t* pb = b + 2 * x;
        const __m128i first =
            _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(pairSums(pa), pairSums(pb)), two), 2);
        const __m128i second = _mm_srli_epi16(
            _mm_add_epi16(_mm_add_epi16(pairSums(pa + 16), pairSums(pb + 16)), two), 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(first, second));
    }
    return x;
#else
    (void)a;
    (void)b;
    (void)out;
    (void)outWidth;
    return 0;
#endif
}

}  // namespace

void halvePlane(const ConstPlane& in, std::uint8_t* out, std::ptrdiff_t outStride) {
    const int outWidth = in.width / 2, outHeight = in.height / 2;
    if (in.data == nullptr || out == nullptr || outWidth <= 0 || outHeight <= 0)
        return;
    for (int y = 0; y < outHeight; ++y) {
        const std::uint8_t* a = in.data + static_cast<std::ptrdiff_t>(2 * y) * in.stride;
        const std::uint8_t* b = a + in.stride;
        std::uint8_t* row = out + static_cast<std::ptrdiff_t>(y) * outStride;
        for (int x = halveRowsWide(a, b, row, outWidth); x < outWidth; ++x)
            row[x] = mean4(a + 2 * x, b + 2 * x);
    }
}

}  // namespace pixels
