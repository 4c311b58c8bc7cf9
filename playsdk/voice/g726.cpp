// G.726 ADPCM (ITU-T G.726, 12/90), all four rates, linear 16-bit samples in and out.
//
// Every sample passes through the same blocks in encoder and decoder: an adaptive predictor
// (two poles, six zeros) estimates the signal, the difference is quantized in the log domain
// against an adaptive scale factor, and the reconstructed difference drives the adaptation.
// The arithmetic follows the standard's fixed-point block descriptions, section by section;
// the encoder contains the decoder, so both stay in step.

#include "g726.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace zelplay::voice {

namespace {

// Per-rate tables (G.726 Tables 1 to 8 and 11 to 14, in the standard's fixed-point units).
struct RateTables {
    const int* decisionLevels;   ///< quantizer decision levels of the normalized log (x 128)
    int levelCount;              ///< entries in decisionLevels
    bool zeroCodeUnused;         ///< code 0 is not sent: a positive zero becomes the last code
    const int* reconstructLog;   ///< normalized log of the reconstructed magnitude (x 128)
    const int* scaleMultiplier;  ///< W[I], scale factor multiplier per code (x 512)
    const int* speedFunction;    ///< F[I], speed control input per code (x 512)
    int signBit;                 ///< the code bit that holds the sign
};

// 16 kbit/s: codes 0, 1 positive, 2, 3 negative; no code is left unused.
constexpr int kLevels16[] = {261};
constexpr int kDqln16[] = {116, 365, 365, 116};
constexpr int kW16[] = {-704, 14048, 14048, -704};
constexpr int kF16[] = {0, 0xE00, 0xE00, 0};

// 24 kbit/s.
constexpr int kLevels24[] = {8, 218, 331};
constexpr int kDqln24[] = {-2048, 135, 273, 373, 373, 273, 135, -2048};
constexpr int kW24[] = {-128, 960, 4384, 18624, 18624, 4384, 960, -128};
constexpr int kF24[] = {0, 0x200, 0x400, 0xE00, 0xE00, 0x400, 0x200, 0};

// 32 kbit/s.
constexpr int kLevels32[] = {-124, 80, 178, 246, 300, 349, 400};
constexpr int kDqln32[] = {-2048, 4,   135, 213, 273, 323, 373, 425,
                           425,   373, 323, 273, 213, 135, 4,   -2048};
constexpr int kW32[] = {-384,  576,   1312, 2048, 3584, 6336, 11360, 35904,
                        35904, 11360, 6336, 3584, 2048, 1312, 576,   -384};
constexpr int kF32[] = {0,     0,     0,     0x200, 0x200, 0x200, 0x600, 0xE00,
                        0xE00, 0x600, 0x200, 0x200, 0x200, 0,     0,     0};

// 40 kbit/s.
constexpr int kLevels40[] = {-122, -16, 68,  139, 198, 250, 298, 339,
                             378,  413, 445, 475, 502, 528, 553};
constexpr int kDqln40[] = {-2048, -66, 28,  104, 169, 224, 274, 318, 358, 395,  429,
                           459,   488, 514, 539, 566, 566, 539, 514, 488, 459,  429,
                           395,   358, 318, 274, 224, 169, 104, 28,  -66, -2048};
constexpr int kW40[] = {448,  448,   768,   1248,  1280,  1312,  1856,  3200,  4512,  5728, 7008,
                        8960, 11456, 14080, 16928, 22272, 22272, 16928, 14080, 11456, 8960, 7008,
                        5728, 4512,  3200,  1856,  1312,  1280,  1248,  768,   448,   448};
constexpr int kF40[] = {0,     0,     0,     0,     0,     0x200, 0x200, 0x200, 0x200, 0x200, 0x400,
                        0x600, 0x800, 0xA00, 0xC00, 0xC00, 0xC00, 0xC00, 0xA00, 0x800, 0x600, 0x400,
                        0x200, 0x200, 0x200, 0x200, 0x200, 0,     0,     0,     0,     0};

constexpr RateTables kRates[4] = {
    {kLevels16, 1, false, kDqln16, kW16, kF16, 0x02},
    {kLevels24, 3, true, kDqln24, kW24, kF24, 0x04},
    {kLevels32, 7, true, kDqln32, kW32, kF32, 0x08},
    {kLevels40, 15, true, kDqln40, kW40, kF40, 0x10},
};

// Floating-format value 0 (mantissa 32, exponent 0) and its negative counterpart.
constexpr int16_t kFloatZero = 0x20;
constexpr int16_t kFloatNegativeZero = 0x20 - 0x400;

// Number of significant bits of value, at most 15 (the standard's 15-bit normalizers).
inline int log2Bits(int value) {
    if (value <= 0) {
        return 0;
    }
    return std::min(15, 32 - __builtin_clz(static_cast<unsigned>(value)));
}

// Index of the first decision level above value (the quantizer's table search). The levels
// rise, so the index is the number of levels at or below value; counted without branches,
// since the outcome changes from sample to sample.
inline int searchLevels(int value, const int* levels, int count) {
    int i = 0;
    for (int k = 0; k < count; ++k) {
        i += value >= levels[k];
    }
    return i;
}

// Para 4.2.4 (FMULT): product of a predictor coefficient (2^-14 units, taken >> 2) and a
// signal value in the 4-bit-exponent, 6-bit-mantissa floating format. Called eight times
// per sample, so kept inline and nearly branch-free.
[[gnu::always_inline]] inline int floatMultiply(int coefficient, int floatValue) {
    const unsigned magnitude =
        static_cast<unsigned>(coefficient > 0 ? coefficient : ((-coefficient) & 0x1FFF));
    // Significant bits of the magnitude (at most 13, below the 15-bit cap of the standard).
    const int bits = magnitude == 0 ? 0 : 32 - __builtin_clz(magnitude | 1);
    const int mantissa = magnitude == 0 ? 32 : static_cast<int>((magnitude << 6) >> bits);
    // Exponent of the product: (bits - 6) + exponent of the value - 13.
    const int productExponent = bits + ((floatValue >> 6) & 0xF) - 19;
    const int productMantissa = (mantissa * (floatValue & 0x3F) + 0x30) >> 4;
    const int product = productExponent >= 0 ? (productMantissa << productExponent) & 0x7FFF
                                             : productMantissa >> -productExponent;
    return ((coefficient ^ floatValue) < 0) ? -product : product;
}

// Para 4.2.4 (sixth-order zero predictor): sez, doubled.
[[gnu::always_inline]] inline int zeroPrediction(const G726State& s) {
    int sum = 0;
    for (int i = 0; i < 6; ++i) {
        sum += floatMultiply(s.b[i] >> 2, s.dq[i]);
    }
    return sum;
}

// Para 4.2.4 (second-order pole predictor), doubled.
[[gnu::always_inline]] inline int polePrediction(const G726State& s) {
    return floatMultiply(s.a[1] >> 2, s.sr[1]) + floatMultiply(s.a[0] >> 2, s.sr[0]);
}

// Para 4.2.3 (MIX): scale factor y, mixed from yu and yl by the speed control ap.
inline int scaleFactor(const G726State& s) {
    if (s.ap >= 256) {
        return s.yu;
    }
    int y = s.yl >> 6;
    const int difference = s.yu - y;
    const int weight = s.ap >> 2;
    if (difference > 0) {
        y += (difference * weight) >> 6;
    } else if (difference < 0) {
        y += (difference * weight + 0x3F) >> 6;
    }
    return y;
}

// Para 4.2.2 (adaptive quantizer): log2 of |d| less the scale factor, looked up in the
// decision levels; the sign becomes the code's top half.
inline int quantize(int difference, int y, const RateTables& rate) {
    const int magnitude = std::abs(difference);
    const int exponent = log2Bits(magnitude >> 1);
    const int mantissa = ((magnitude << 7) >> exponent) & 0x7F;
    const int logMagnitude = (exponent << 7) + mantissa;
    const int normalized = logMagnitude - (y >> 2);
    const int level = searchLevels(normalized, rate.decisionLevels, rate.levelCount);
    const int lastCode = (rate.levelCount << 1) + 1;
    if (difference < 0) {
        return lastCode - level;
    }
    if (level == 0 && rate.zeroCodeUnused) {
        return lastCode;
    }
    return level;
}

// Para 4.2.3 (inverse adaptive quantizer): quantized difference in sign-magnitude form
// (negative values carry -0x8000 on top of the magnitude).
inline int reconstruct(bool negative, int normalizedLog, int y) {
    const int logValue = normalizedLog + (y >> 2);
    if (logValue < 0) {
        return negative ? -0x8000 : 0;
    }
    const int exponent = (logValue >> 7) & 15;
    const int mantissa = 128 + (logValue & 127);
    const int magnitude = (mantissa << 7) >> (14 - exponent);
    return negative ? magnitude - 0x8000 : magnitude;
}

// Para 4.2.7 (FLOAT A/B): a value in the predictor's floating format.
inline int16_t toFloat(int magnitude, bool negative) {
    if (magnitude == 0) {
        return negative ? kFloatNegativeZero : kFloatZero;
    }
    const int exponent = log2Bits(magnitude);
    const int value = (exponent << 6) + ((magnitude << 6) >> exponent);
    return static_cast<int16_t>(negative ? value - 0x400 : value);
}

// Paras 4.2.3 to 4.2.8: every adaptation after one sample, in the standard's order.
template <int Bits>
[[gnu::always_inline]] inline void adapt(G726State& s, int y, int scaleMultiplier, int speedInput,
                                         int dq, int sr, int dqsez) {
    const int signNow = dqsez < 0 ? 1 : 0;
    const int dqMagnitude = dq & 0x7FFF;

    // Para 4.2.8 (TRANS): transition detector, on the old slow scale factor; only a detected
    // tone can end in a transition.
    bool transition = false;
    if (s.td != 0) {
        const int ylInteger = s.yl >> 15;
        const int ylFraction = (s.yl >> 10) & 0x1F;
        const int threshold1 = (32 + ylFraction) << ylInteger;
        const int threshold2 = ylInteger > 9 ? 31 << 10 : threshold1;
        const int dqThreshold = (threshold2 + (threshold2 >> 1)) >> 1;
        transition = dqMagnitude > dqThreshold;
    }

    // Para 4.2.3 (FILTD, LIMB, FILTE): quantizer scale factor adaptation.
    const int yu = std::clamp(y + ((scaleMultiplier - y) >> 5), 544, 5120);
    s.yu = static_cast<int16_t>(yu);
    s.yl += yu + ((-s.yl) >> 6);

    // Para 4.2.5: adaptive predictor update.
    int a2;
    if (transition) {
        a2 = 0;
        s.a[0] = s.a[1] = 0;
        std::fill(std::begin(s.b), std::end(s.b), 0);
    } else {
        const int signChange1 = signNow ^ s.pk[0];

        // UPA2 and LIMC: second pole coefficient. F(a1) limited to [-256, 255] (2^-5 of a1
        // within +-8191), plus or minus 2^-7 by the sign two samples back, limited to +-0.75;
        // written as clamps, since the signs change from sample to sample.
        a2 = s.a[1] - (s.a[1] >> 7);
        if (dqsez != 0) {
            const int fa1 = signChange1 ? s.a[0] : -s.a[0];
            a2 += std::clamp(fa1 >> 5, -0x100, 0xFF);
            a2 = std::clamp(a2 + ((signNow ^ s.pk[1]) ? -0x80 : 0x80), -12288, 12288);
        }
        s.a[1] = static_cast<int16_t>(a2);

        // UPA1 and LIMD: first pole coefficient, bounded by the second.
        int a1 = s.a[0] - (s.a[0] >> 8);
        if (dqsez != 0) {
            a1 += signChange1 == 0 ? 192 : -192;
        }
        const int a1Limit = 15360 - a2;
        s.a[0] = static_cast<int16_t>(std::clamp(a1, -a1Limit, a1Limit));

        // UPB: zero coefficients, with leakage 2^-8 (2^-9 at 40 kbit/s).
        // The sign comparison is done arithmetically: it changes from sample to sample.
        constexpr int leak = Bits == 5 ? 9 : 8;
        const int step = dqMagnitude != 0 ? 128 : 0;
        for (int i = 0; i < 6; ++i) {
            const int sameSign = 1 + ((dq ^ s.dq[i]) >> 31);  // 1 same, 0 different
            s.b[i] = static_cast<int16_t>(s.b[i] - (s.b[i] >> leak) + step * (2 * sameSign - 1));
        }
    }

    // Para 4.2.7 (FLOAT A, DELAY): quantized difference history.
    for (int i = 5; i > 0; --i) {
        s.dq[i] = s.dq[i - 1];
    }
    s.dq[0] = toFloat(dqMagnitude, dq < 0);

    // Para 4.2.7 (FLOAT B, DELAY): reconstructed signal history.
    s.sr[1] = s.sr[0];
    if (sr == 0) {
        s.sr[0] = kFloatZero;
    } else if (sr > 0) {
        s.sr[0] = toFloat(sr, false);
    } else if (sr > -32768) {
        s.sr[0] = toFloat(-sr, true);
    } else {
        s.sr[0] = kFloatNegativeZero;
    }

    s.pk[1] = s.pk[0];
    s.pk[0] = static_cast<int16_t>(signNow);

    // Para 4.2.8 (TONE, TRIGB): tone detector.
    s.td = (!transition && a2 < -11776) ? 1 : 0;

    // Para 4.2.6: adaptation speed control.
    s.dms = static_cast<int16_t>(s.dms + ((speedInput - s.dms) >> 5));
    s.dml = static_cast<int16_t>(s.dml + (((speedInput << 2) - s.dml) >> 7));
    int ap = s.ap;
    if (transition) {
        ap = 256;
    } else if (y < 1536 || s.td == 1 || std::abs((s.dms << 2) - s.dml) >= (s.dml >> 3)) {
        ap += (0x200 - ap) >> 4;
    } else {
        ap += (-ap) >> 4;
    }
    s.ap = static_cast<int16_t>(ap);
}

// The part of the coder common to both directions, from the code on.
struct Prediction {
    int sez;  ///< zero predictor output
    int se;   ///< signal estimate
    int y;    ///< quantizer scale factor
};

// Para 4.2.4 (ACCUM): the sums are 16-bit two's complement, modulo 2^16.
[[gnu::always_inline]] inline Prediction predict(const G726State& s) {
    const int zero = static_cast<int16_t>(zeroPrediction(s));
    const int total = static_cast<int16_t>(zero + polePrediction(s));
    return Prediction{zero >> 1, total >> 1, scaleFactor(s)};
}

// Para 4.2.3 onwards: reconstruct from the code, adapt, return the reconstructed signal.
template <int Bits>
[[gnu::always_inline]] inline int reconstructAndAdapt(G726State& s, const Prediction& p, int code) {
    constexpr const RateTables& rate = kRates[Bits - 2];
    const int dq = reconstruct((code & rate.signBit) != 0, rate.reconstructLog[code], p.y);
    // Para 4.2.4 (ADDB): reconstructed signal, 16-bit two's complement, modulo 2^16.
    const int sr = static_cast<int16_t>(dq < 0 ? p.se - (dq & 0x7FFF) : p.se + dq);
    // Para 4.2.4 (ADDC): quantized difference plus the zero predictor's estimate, whose
    // sign drives the pole adaptation; 16-bit two's complement as well.
    const int dqLinear = dq < 0 ? -(dq & 0x7FFF) : dq;
    const int dqsez = static_cast<int16_t>(dqLinear + p.sez);
    adapt<Bits>(s, p.y, rate.scaleMultiplier[code], rate.speedFunction[code], dq, sr, dqsez);
    return sr;
}

}  // namespace

void g726Reset(G726State& state, int bitsPerSample) {
    state = G726State{};
    state.yl = 34816;
    state.yu = 544;
    std::fill(std::begin(state.dq), std::end(state.dq), kFloatZero);
    std::fill(std::begin(state.sr), std::end(state.sr), kFloatZero);
    state.bits = static_cast<uint8_t>(bitsPerSample);
    state.linear16 = 1;
}

void g726Sanitize(G726State& state, int bitsPerSample) {
    // The scale factors and the speed control that mixes them are the only variables whose
    // range the shifts depend on; the adaptation keeps them within these bounds by itself.
    state.yu = std::clamp<int16_t>(state.yu, 544, 5120);
    state.yl = std::clamp<int32_t>(state.yl, 544 << 6, 5120 << 6);
    state.ap = std::clamp<int16_t>(state.ap, 0, 512);
    state.bits = static_cast<uint8_t>(bitsPerSample);
    state.linear16 = 1;
}

namespace {

// The per-sample steps are instantiated per rate, so that the tables and the leakage are
// constants inside the loops.
template <int Bits>
inline uint8_t encodeOne(G726State& state, int16_t sample) {
    const Prediction p = predict(state);
    const int linear14 = sample >> 2;  // the coder works on 14-bit samples
    const int code = quantize(linear14 - p.se, p.y, kRates[Bits - 2]);
    reconstructAndAdapt<Bits>(state, p, code);
    return static_cast<uint8_t>(code);
}

template <int Bits>
inline int16_t decodeOne(G726State& state, uint8_t code) {
    const Prediction p = predict(state);
    const int sr = reconstructAndAdapt<Bits>(state, p, code & ((1 << Bits) - 1));
    return static_cast<int16_t>(sr * 4);  // back from 14 to 16 bits
}

template <int Bits>
void encodeBlock(G726State& state, const int16_t* pcm, int count, uint8_t* codes) {
    G726State local = state;  // kept in registers across the loop
    for (int i = 0; i < count; ++i) {
        codes[i] = encodeOne<Bits>(local, pcm[i]);
    }
    state = local;
}

template <int Bits>
void decodeBlock(G726State& state, const uint8_t* codes, int count, int16_t* pcm) {
    G726State local = state;
    for (int i = 0; i < count; ++i) {
        pcm[i] = decodeOne<Bits>(local, codes[i]);
    }
    state = local;
}

}  // namespace

void g726EncodeBlock(G726State& state, const int16_t* pcm, int count, uint8_t* codes) {
    switch (state.bits) {
        case 2:
            return encodeBlock<2>(state, pcm, count, codes);
        case 3:
            return encodeBlock<3>(state, pcm, count, codes);
        case 4:
            return encodeBlock<4>(state, pcm, count, codes);
        default:
            return encodeBlock<5>(state, pcm, count, codes);
    }
}

void g726DecodeBlock(G726State& state, const uint8_t* codes, int count, int16_t* pcm) {
    switch (state.bits) {
        case 2:
            return decodeBlock<2>(state, codes, count, pcm);
        case 3:
            return decodeBlock<3>(state, codes, count, pcm);
        case 4:
            return decodeBlock<4>(state, codes, count, pcm);
        default:
            return decodeBlock<5>(state, codes, count, pcm);
    }
}

uint8_t g726EncodeSample(G726State& state, int16_t sample) {
    uint8_t code = 0;
    g726EncodeBlock(state, &sample, 1, &code);
    return code;
}

int16_t g726DecodeSample(G726State& state, uint8_t code) {
    int16_t sample = 0;
    g726DecodeBlock(state, &code, 1, &sample);
    return sample;
}

}  // namespace zelplay::voice
