// The voice codec's frame interface: argument checks and their order, frame lengths, state
// carried between frames, transcoding and the recorder audio frame helpers.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "voice_signals.h"
#include "zelplay/voice.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;

constexpr uint16_t kAllIds[] = {1, 2, 3, 4, 5, 6, 7, 35, 36, 37, 38, 39, 65, 66, 67, 68};

struct Block {
    alignas(8) uint8_t bytes[HI_VOICE_STATE_BYTES] = {};
};
struct TranscodeBlock {
    alignas(8) uint8_t bytes[HI_VOICE_TRANSCODE_STATE_BYTES] = {};
};

// Frame buffer with a guard area filled with a marker, to catch writes past the frame.
struct GuardedFrame {
    static constexpr uint8_t kMarker = 0xA5;
    std::array<uint8_t, 1200> bytes;
    GuardedFrame() { bytes.fill(kMarker); }
    uint8_t* data() { return bytes.data(); }
    int length() const { return 4 + 2 * bytes[2]; }
    bool untouchedFrom(size_t offset) const {
        for (size_t i = offset; i < bytes.size(); ++i) {
            if (bytes[i] != kMarker) {
                return false;
            }
        }
        return true;
    }
    Bytes frame() const { return Bytes(bytes.begin(), bytes.begin() + length()); }
};

Bytes makeFrame(uint8_t type, uint8_t words, uint8_t fill = 0x5A) {
    Bytes f(4 + 2 * static_cast<size_t>(words), fill);
    f[0] = 0;
    f[1] = type;
    f[2] = words;
    f[3] = 0;
    return f;
}

// Payload words an encoder writes for n samples.
int expectedWords(uint16_t id, int n) {
    switch (id) {
        case 1:
        case 2:
        case 65:
        case 66:
            return n / 2;
        case 3:
            return n / 4 + 2;
        case 35:
            return (n - 1) / 4 + 2;
        case 67:
            return n / 4;
        case 4:
        case 36:
            return (n & ~1) * 2 / 16;
        case 5:
        case 37:
            return (n & ~1) * 3 / 16;
        case 6:
        case 38:
            return (n & ~1) * 4 / 16;
        case 7:
        case 39:
            return (n & ~1) * 5 / 16;
        case 68:
            return n / 8;
    }
    return -1;
}

// Samples a decoder gives for L payload words, or -1 when it rejects the length.
int expectedSamples(uint16_t id, int words) {
    auto g = [](int s) { return s <= 481 && s % 80 == 0 ? s : -1; };
    switch (id) {
        case 1:
        case 2:
        case 65:
        case 66:
            return g(2 * words);
        case 3:
            return words >= 2 && words <= 122 ? 4 * words - 8 : -1;
        case 35:
            return words >= 2 && words <= 122 ? 4 * (words - 2) + 1 : -1;
        case 67:
            return words <= 120 ? 4 * words : -1;  // 121 and 122 words are refused
        case 4:
        case 36:
        case 68:
            return g(8 * words);
        case 5:
        case 37:
            return g(16 * words / 3);
        case 6:
        case 38:
            return g(4 * words);
        case 7:
        case 39:
            return g(16 * words / 5);
    }
    return -1;
}

double snrDb(const Samples& a, const Samples& b) {
    double signal = 0, error = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        signal += double(a[i]) * a[i];
        error += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return 10 * std::log10(signal / std::max(error, 1.0));
}

// ---- version and resets -----------------------------------------------------------------

TEST(VoiceFrame, VersionText) {
    char text[64];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(HI_VOICE_GetVersion(text), 0);
    EXPECT_STREQ(text, "HI_VOICE_VERSION=Hi3511_VOICELIB_V1.0.0.0");
    EXPECT_EQ(HI_VOICE_GetVersion(nullptr), -1);
}

TEST(VoiceFrame, ResetStoresUnknownIdsAndReportsThemLater) {
    Block enc, dec;
    EXPECT_EQ(HI_VOICE_EncReset(nullptr, 1), HI_VOICE_ERR_NO_STATE);
    EXPECT_EQ(HI_VOICE_DecReset(nullptr, 1), HI_VOICE_ERR_NO_STATE);
    EXPECT_EQ(HI_VOICE_EncReset(enc.bytes, 8), HI_VOICE_ERR_ENC_CODEC);
    EXPECT_EQ(HI_VOICE_DecReset(dec.bytes, 8), HI_VOICE_ERR_DEC_CODEC);
    uint16_t stored = 0;
    std::memcpy(&stored, enc.bytes, 2);
    EXPECT_EQ(stored, 8);
    std::memcpy(&stored, dec.bytes, 2);
    EXPECT_EQ(stored, 8);

    const Samples pcm(320, 100);
    GuardedFrame out;
    EXPECT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data(), out.data(), 320), HI_VOICE_ERR_ENC_CODEC);
    EXPECT_TRUE(out.untouchedFrom(0));
    const Bytes frame = makeFrame(1, 160);
    int16_t samples[HI_VOICE_MAX_SAMPLES];
    uint16_t count = 7;
    EXPECT_EQ(HI_VOICE_DecodeFrame(dec.bytes, frame.data(), samples, &count),
              HI_VOICE_ERR_DEC_CODEC);
    EXPECT_EQ(count, 0);
    for (uint16_t id : kAllIds) {
        EXPECT_EQ(HI_VOICE_EncReset(enc.bytes, id), HI_VOICE_OK) << id;
        EXPECT_EQ(HI_VOICE_DecReset(dec.bytes, id), HI_VOICE_OK) << id;
    }
}

// The ADPCM predictor sits behind the id: predicted value at byte 2, step index at byte 4.
TEST(VoiceFrame, AdpcmStateLayout) {
    Block enc;
    std::memset(enc.bytes, 0xFF, sizeof enc.bytes);
    ASSERT_EQ(HI_VOICE_EncReset(enc.bytes, HI_VOICE_ADPCM_STREAM), 0);
    EXPECT_EQ(enc.bytes[2], 0);
    EXPECT_EQ(enc.bytes[3], 0);
    EXPECT_EQ(enc.bytes[4], 0);
    const Samples pcm = voicetest::speechLike(320);
    GuardedFrame out;
    ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data(), out.data(), 320), 0);
    // The next id 3 frame's header holds exactly what the block holds.
    int16_t predicted;
    std::memcpy(&predicted, enc.bytes + 2, 2);
    const uint8_t index = enc.bytes[4];
    EXPECT_NE(predicted, 0);
    EXPECT_GT(index, 0);
    uint16_t id = HI_VOICE_ADPCM;
    std::memcpy(enc.bytes, &id, 2);
    ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data(), out.data(), 320), 0);
    EXPECT_EQ(static_cast<int16_t>(out.bytes[4] | out.bytes[5] << 8), predicted);
    EXPECT_EQ(out.bytes[6], index);
}

// ---- encoding ---------------------------------------------------------------------------

TEST(VoiceFrame, EncodeChecksInOrder) {
    Block state;
    ASSERT_EQ(HI_VOICE_EncReset(state.bytes, 99), HI_VOICE_ERR_ENC_CODEC);  // unknown id
    const Samples pcm(482, 0);
    uint8_t frame[1024];
    EXPECT_EQ(HI_VOICE_EncodeFrame(nullptr, nullptr, nullptr, 0), HI_VOICE_ERR_NO_STATE);
    EXPECT_EQ(HI_VOICE_EncodeFrame(state.bytes, nullptr, nullptr, 0), HI_VOICE_ERR_NO_INPUT);
    EXPECT_EQ(HI_VOICE_EncodeFrame(state.bytes, pcm.data(), nullptr, 0), HI_VOICE_ERR_NO_OUTPUT);
    EXPECT_EQ(HI_VOICE_EncodeFrame(state.bytes, pcm.data(), frame, 0), HI_VOICE_ERR_ENC_SAMPLES);
    EXPECT_EQ(HI_VOICE_EncodeFrame(state.bytes, pcm.data(), frame, 482), HI_VOICE_ERR_ENC_SAMPLES);
    EXPECT_EQ(HI_VOICE_EncodeFrame(state.bytes, pcm.data(), frame, -5), HI_VOICE_ERR_ENC_SAMPLES);
    EXPECT_EQ(HI_VOICE_EncodeFrame(state.bytes, pcm.data(), frame, 481), HI_VOICE_ERR_ENC_CODEC);
}

// Every codec takes 1 to 481 samples, writes the header 00 01 L 00 with the codec's payload
// length and nothing past the frame's 4 + 2L bytes.
TEST(VoiceFrame, EncodeWritesExactlyTheFrame) {
    const Samples pcm = voicetest::speechLike(481);
    for (uint16_t id : kAllIds) {
        Block state;
        ASSERT_EQ(HI_VOICE_EncReset(state.bytes, id), 0);
        for (int n = 1; n <= 481; ++n) {
            GuardedFrame out;
            ASSERT_EQ(HI_VOICE_EncodeFrame(state.bytes, pcm.data(), out.data(), n), 0)
                << "id " << id << " n " << n;
            ASSERT_EQ(out.bytes[0], 0);
            ASSERT_EQ(out.bytes[1], 1);
            ASSERT_EQ(out.bytes[2], expectedWords(id, n)) << "id " << id << " n " << n;
            ASSERT_EQ(out.bytes[3], 0);
            ASSERT_TRUE(out.untouchedFrom(static_cast<size_t>(out.length())))
                << "id " << id << " n " << n;
        }
    }
}

TEST(VoiceFrame, G711SwappedIdsSwapCodePairs) {
    const Samples pcm = voicetest::speechLike(481);
    for (const auto& [plain, swapped] : {std::pair<uint16_t, uint16_t>{1, 65}, {2, 66}}) {
        Block a, b;
        HI_VOICE_EncReset(a.bytes, plain);
        HI_VOICE_EncReset(b.bytes, swapped);
        GuardedFrame fa, fb;
        ASSERT_EQ(HI_VOICE_EncodeFrame(a.bytes, pcm.data(), fa.data(), 481), 0);
        ASSERT_EQ(HI_VOICE_EncodeFrame(b.bytes, pcm.data(), fb.data(), 481), 0);
        ASSERT_EQ(fa.bytes[2], 240);  // the odd last sample is dropped
        for (int i = 0; i < 480; ++i) {
            EXPECT_EQ(fa.bytes[4 + i], fb.bytes[4 + (i ^ 1)]);
        }
    }
}

// ---- decoding ---------------------------------------------------------------------------

TEST(VoiceFrame, DecodeChecksInOrder) {
    Block state;
    ASSERT_EQ(HI_VOICE_DecReset(state.bytes, 1), 0);
    Bytes frame = makeFrame(1, 160);
    int16_t pcm[HI_VOICE_MAX_SAMPLES];
    uint16_t count = 99;
    EXPECT_EQ(HI_VOICE_DecodeFrame(nullptr, nullptr, nullptr, nullptr), HI_VOICE_ERR_NO_STATE);
    EXPECT_EQ(HI_VOICE_DecodeFrame(state.bytes, nullptr, pcm, &count), HI_VOICE_ERR_NO_INPUT);
    EXPECT_EQ(HI_VOICE_DecodeFrame(state.bytes, frame.data(), nullptr, &count),
              HI_VOICE_ERR_NO_OUTPUT);
    EXPECT_EQ(HI_VOICE_DecodeFrame(state.bytes, frame.data(), pcm, nullptr),
              HI_VOICE_ERR_NO_OUTPUT);
    EXPECT_EQ(count, 99);  // the argument checks come before the count is cleared

    // Frame type bits come before the length: 0x02 and 0x03 with a zero or bad length.
    for (uint8_t type : {0x00, 0x02, 0x03, 0x80, 0xFE}) {
        for (uint8_t words : {0, 41, 160}) {
            Bytes f = makeFrame(type, words);
            count = 99;
            EXPECT_EQ(HI_VOICE_DecodeFrame(state.bytes, f.data(), pcm, &count),
                      HI_VOICE_ERR_DEC_TYPE);
            EXPECT_EQ(count, 0);
        }
    }
    // Any type byte with low bits 01 is taken.
    Bytes f = makeFrame(0x05, 160);
    EXPECT_EQ(HI_VOICE_DecodeFrame(state.bytes, f.data(), pcm, &count), HI_VOICE_OK);
    EXPECT_EQ(count, 320);
    // Payload length 0 comes before the codec.
    Block unknown;
    HI_VOICE_DecReset(unknown.bytes, 200);
    f = makeFrame(1, 0);
    EXPECT_EQ(HI_VOICE_DecodeFrame(unknown.bytes, f.data(), pcm, &count), HI_VOICE_ERR_DEC_LENGTH);
    f = makeFrame(1, 160);
    EXPECT_EQ(HI_VOICE_DecodeFrame(unknown.bytes, f.data(), pcm, &count), HI_VOICE_ERR_DEC_CODEC);
}

// Every payload length 1..255 for every codec: accepted exactly when the codec's rule allows
// it, with the rule's sample count and nothing written past 481 samples.
TEST(VoiceFrame, DecodeLengthRules) {
    for (uint16_t id : kAllIds) {
        for (int words = 1; words <= 255; ++words) {
            Block state;
            ASSERT_EQ(HI_VOICE_DecReset(state.bytes, id), 0);
            Bytes frame = makeFrame(1, static_cast<uint8_t>(words), 0x3C);
            std::array<int16_t, 600> pcm;
            pcm.fill(0x7A7A);
            uint16_t count = 999;
            const int32_t rc = HI_VOICE_DecodeFrame(state.bytes, frame.data(), pcm.data(), &count);
            const int expected = expectedSamples(id, words);
            if (expected < 0) {
                ASSERT_EQ(rc, HI_VOICE_ERR_DEC_LENGTH) << "id " << id << " L " << words;
                ASSERT_EQ(count, 0);
            } else {
                ASSERT_EQ(rc, HI_VOICE_OK) << "id " << id << " L " << words;
                ASSERT_EQ(count, expected) << "id " << id << " L " << words;
            }
            for (size_t i = std::max(expected, 0); i < pcm.size(); ++i) {
                ASSERT_EQ(pcm[i], 0x7A7A) << "id " << id << " L " << words << " at " << i;
            }
        }
    }
}

TEST(VoiceFrame, AdpcmFirstSampleFrameOf82Words) {
    Bytes frame = makeFrame(1, 82, 0x11);
    frame[4] = 0x34;  // predicted value 0x1234
    frame[5] = 0x12;
    frame[6] = 20;  // step index
    Block state;
    HI_VOICE_DecReset(state.bytes, HI_VOICE_ADPCM_FIRST);
    int16_t pcm[HI_VOICE_MAX_SAMPLES];
    uint16_t count = 0;
    ASSERT_EQ(HI_VOICE_DecodeFrame(state.bytes, frame.data(), pcm, &count), 0);
    EXPECT_EQ(count, 321);
    EXPECT_EQ(pcm[0], 0x1234);
    EXPECT_GT(pcm[1], pcm[0]);  // code 1: a small step up
}

// A step index beyond the table in a frame header is taken as the largest one.
TEST(VoiceFrame, AdpcmHeaderStepIndexIsBounded) {
    for (uint16_t id : {HI_VOICE_ADPCM, HI_VOICE_ADPCM_FIRST}) {
        Bytes wild = makeFrame(1, 122, 0x77);
        wild[6] = 255;
        Bytes top = wild;
        top[6] = 88;
        Block a, b;
        HI_VOICE_DecReset(a.bytes, id);
        HI_VOICE_DecReset(b.bytes, id);
        int16_t pa[HI_VOICE_MAX_SAMPLES], pb[HI_VOICE_MAX_SAMPLES];
        uint16_t ca = 0, cb = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(a.bytes, wild.data(), pa, &ca), 0);
        ASSERT_EQ(HI_VOICE_DecodeFrame(b.bytes, top.data(), pb, &cb), 0);
        ASSERT_EQ(ca, cb);
        EXPECT_EQ(0, std::memcmp(pa, pb, 2 * ca));
    }
}

// A block that no reset produced (scribbled over by the caller) still decodes and encodes
// within bounds; the sanitizer builds check the arithmetic.
TEST(VoiceFrame, ScribbledStateBlocksStaySafe) {
    const Samples pcm = voicetest::mixedSignal(480);
    for (uint16_t id : kAllIds) {
        for (const uint8_t fill : {0x00, 0x7F, 0x80, 0xFF, 0x5A}) {
            Block enc, dec;
            std::memset(enc.bytes, fill, sizeof enc.bytes);
            std::memset(dec.bytes, fill ^ 0x33, sizeof dec.bytes);
            std::memcpy(enc.bytes, &id, 2);
            std::memcpy(dec.bytes, &id, 2);
            for (size_t pos = 0; pos + 480 <= pcm.size(); pos += 480) {
                GuardedFrame frame;
                ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data() + pos, frame.data(), 480), 0);
                std::array<int16_t, 600> out;
                out.fill(0x7A7A);
                uint16_t count = 0;
                ASSERT_EQ(HI_VOICE_DecodeFrame(dec.bytes, frame.data(), out.data(), &count), 0)
                    << "id " << id;
                ASSERT_EQ(count, expectedSamples(id, frame.bytes[2]));
                ASSERT_EQ(out[count], 0x7A7A);
            }
        }
    }
}

// Decoding leaves the caller's frame as it was, so the same frame decodes the same twice.
TEST(VoiceFrame, DecodingDoesNotChangeTheFrame) {
    const Samples pcm = voicetest::speechLike(480);
    for (uint16_t id : kAllIds) {
        Block enc;
        HI_VOICE_EncReset(enc.bytes, id);
        GuardedFrame out;
        ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data(), out.data(), 480), 0);
        const Bytes original = out.frame();
        Samples first, second;
        for (Samples* result : {&first, &second}) {
            Block dec;
            HI_VOICE_DecReset(dec.bytes, id);
            int16_t samples[HI_VOICE_MAX_SAMPLES];
            uint16_t count = 0;
            ASSERT_EQ(HI_VOICE_DecodeFrame(dec.bytes, out.data(), samples, &count), 0) << id;
            result->assign(samples, samples + count);
            ASSERT_EQ(out.frame(), original) << "id " << id;
        }
        EXPECT_EQ(first, second) << "id " << id;
    }
}

// Each codec reproduces speech: decoded output close to the input.
TEST(VoiceFrame, RoundTripQuality) {
    const Samples pcm = voicetest::speechLike(16000);
    struct Floor {
        uint16_t id;
        double db;
    };
    for (const Floor f : {Floor{1, 30},
                          {2, 30},
                          {65, 30},
                          {66, 30},
                          {3, 18},
                          {35, 18},
                          {67, 18},
                          {4, 8},
                          {5, 14},
                          {6, 20},
                          {7, 25},
                          {36, 8},
                          {37, 14},
                          {38, 20},
                          {39, 25},
                          {68, 8}}) {
        Block enc, dec;
        HI_VOICE_EncReset(enc.bytes, f.id);
        HI_VOICE_DecReset(dec.bytes, f.id);
        Samples decoded, reference;
        const int n = (f.id == 3 || f.id == 35) ? 321 : 320;
        for (size_t pos = 0; pos + n <= pcm.size(); pos += n) {
            GuardedFrame out;
            ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data() + pos, out.data(), n), 0);
            int16_t samples[HI_VOICE_MAX_SAMPLES];
            uint16_t count = 0;
            ASSERT_EQ(HI_VOICE_DecodeFrame(dec.bytes, out.data(), samples, &count), 0) << f.id;
            decoded.insert(decoded.end(), samples, samples + count);
            reference.insert(reference.end(), pcm.begin() + pos, pcm.begin() + pos + count);
        }
        EXPECT_GT(snrDb(reference, decoded), f.db) << "id " << f.id;
    }
}

// Ids 67 and the G.726 ids carry their state from frame to frame: a second frame decoded
// with a fresh state comes out differently from one decoded in sequence.
TEST(VoiceFrame, StateCarriesAcrossFrames) {
    const Samples pcm = voicetest::speechLike(960);
    for (uint16_t id : {67, 4, 5, 6, 7, 36, 37, 38, 39, 68}) {
        Block enc, fresh;
        HI_VOICE_EncReset(enc.bytes, id);
        GuardedFrame first, second, secondFresh;
        ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data(), first.data(), 480), 0);
        ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data() + 480, second.data(), 480), 0);
        HI_VOICE_EncReset(fresh.bytes, id);
        ASSERT_EQ(HI_VOICE_EncodeFrame(fresh.bytes, pcm.data() + 480, secondFresh.data(), 480), 0);
        EXPECT_NE(second.frame(), secondFresh.frame()) << "id " << id;

        Block dec, decFresh;
        HI_VOICE_DecReset(dec.bytes, id);
        HI_VOICE_DecReset(decFresh.bytes, id);
        int16_t a[HI_VOICE_MAX_SAMPLES], b[HI_VOICE_MAX_SAMPLES];
        uint16_t ca = 0, cb = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(dec.bytes, first.data(), a, &ca), 0);
        ASSERT_EQ(HI_VOICE_DecodeFrame(dec.bytes, second.data(), a, &ca), 0);
        ASSERT_EQ(HI_VOICE_DecodeFrame(decFresh.bytes, second.data(), b, &cb), 0);
        ASSERT_EQ(ca, cb);
        EXPECT_NE(0, std::memcmp(a, b, 2 * ca)) << "id " << id;
        // In sequence, the second frame follows the input closely.
        EXPECT_GT(snrDb(Samples(pcm.begin() + 480, pcm.end()), Samples(a, a + ca)), 8.0) << id;
    }
}

// ---- transcoding ------------------------------------------------------------------------

TEST(VoiceTranscode, ResetAndFrameChecks) {
    TranscodeBlock t;
    EXPECT_EQ(HI_VOICE_TransCodeReset(nullptr, 97), HI_VOICE_ERR_TRANS_NO_STATE);
    EXPECT_EQ(HI_VOICE_TransCodeReset(t.bytes, 96), HI_VOICE_ERR_TRANS_TYPE);
    EXPECT_EQ(HI_VOICE_TransCodeReset(t.bytes, 101), HI_VOICE_ERR_TRANS_TYPE);
    Bytes frame = makeFrame(1, 160);
    EXPECT_EQ(HI_VOICE_TransCodeFrame(nullptr, frame.data()), HI_VOICE_ERR_TRANS_NO_STATE);
    EXPECT_EQ(HI_VOICE_TransCodeFrame(t.bytes, frame.data()),
              HI_VOICE_ERR_TRANS_TYPE);  // not set up
    for (int type = 97; type <= 100; ++type) {
        ASSERT_EQ(HI_VOICE_TransCodeReset(t.bytes, type), HI_VOICE_OK);
        EXPECT_EQ(HI_VOICE_TransCodeFrame(t.bytes, nullptr), HI_VOICE_ERR_NO_INPUT);
    }
    // The decoder half sits at byte 2048 and the encoder half at 0, each with its id.
    const std::pair<int, std::pair<uint16_t, uint16_t>> ids[] = {
        {97, {65, 1}}, {98, {66, 2}}, {99, {67, 3}}, {100, {68, 4}}};
    for (const auto& [type, pair] : ids) {
        ASSERT_EQ(HI_VOICE_TransCodeReset(t.bytes, type), 0);
        uint16_t enc = 0, dec = 0;
        std::memcpy(&enc, t.bytes, 2);
        std::memcpy(&dec, t.bytes + 2048, 2);
        EXPECT_EQ(dec, pair.first);
        EXPECT_EQ(enc, pair.second);
    }
}

TEST(VoiceTranscode, G711TypesSwapPayloadPairs) {
    for (int type : {97, 98}) {
        TranscodeBlock t;
        ASSERT_EQ(HI_VOICE_TransCodeReset(t.bytes, type), 0);
        Bytes frame = makeFrame(1, 160);
        for (size_t i = 4; i < frame.size(); ++i) {
            frame[i] = static_cast<uint8_t>(i * 7);
        }
        const Bytes before = frame;
        ASSERT_EQ(HI_VOICE_TransCodeFrame(t.bytes, frame.data()), 0);
        EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4),
                  Bytes(before.begin(), before.begin() + 4));
        for (size_t i = 4; i < frame.size(); ++i) {
            EXPECT_EQ(frame[i], before[4 + ((i - 4) ^ 1)]);
        }
    }
}

// Id 67 frames become id 3 frames two words longer that decode to the same samples; id 68
// frames become id 4 frames of the same length that follow the input.
TEST(VoiceTranscode, AdpcmAndG726TypesReencode) {
    const Samples pcm = voicetest::speechLike(4800);
    struct Case {
        int type;
        uint16_t source, target;
        int growWords;
    };
    for (const Case c : {Case{99, 67, 3, 2}, Case{100, 68, 4, 0}}) {
        TranscodeBlock t;
        ASSERT_EQ(HI_VOICE_TransCodeReset(t.bytes, c.type), 0);
        Block enc, decSource, decTarget;
        HI_VOICE_EncReset(enc.bytes, c.source);
        HI_VOICE_DecReset(decSource.bytes, c.source);
        HI_VOICE_DecReset(decTarget.bytes, c.target);
        Samples viaSource, viaTarget;
        for (size_t pos = 0; pos + 480 <= pcm.size(); pos += 480) {
            GuardedFrame frame;
            ASSERT_EQ(HI_VOICE_EncodeFrame(enc.bytes, pcm.data() + pos, frame.data(), 480), 0);
            const int words = frame.bytes[2];
            int16_t s[HI_VOICE_MAX_SAMPLES];
            uint16_t n = 0;
            ASSERT_EQ(HI_VOICE_DecodeFrame(decSource.bytes, frame.data(), s, &n), 0);
            viaSource.insert(viaSource.end(), s, s + n);
            ASSERT_EQ(HI_VOICE_TransCodeFrame(t.bytes, frame.data()), 0);
            ASSERT_EQ(frame.bytes[2], words + c.growWords);
            ASSERT_TRUE(frame.untouchedFrom(static_cast<size_t>(frame.length())));
            ASSERT_EQ(HI_VOICE_DecodeFrame(decTarget.bytes, frame.data(), s, &n), 0);
            viaTarget.insert(viaTarget.end(), s, s + n);
        }
        ASSERT_EQ(viaSource.size(), viaTarget.size());
        if (c.type == 99) {
            EXPECT_EQ(viaSource, viaTarget);  // the re-encoding reproduces the decoded signal
        } else {
            EXPECT_GT(snrDb(pcm, viaTarget), 5.0);
        }
    }
}

// A frame that does not decode is reported and left as it was.
TEST(VoiceTranscode, BadFrameIsReportedAndKept) {
    TranscodeBlock t;
    ASSERT_EQ(HI_VOICE_TransCodeReset(t.bytes, 99), 0);
    for (const Bytes& bad : {makeFrame(2, 120), makeFrame(1, 0), makeFrame(1, 121)}) {
        Bytes frame = bad;
        frame.resize(frame.size() + 8, 0xEE);
        const Bytes before = frame;
        EXPECT_NE(HI_VOICE_TransCodeFrame(t.bytes, frame.data()), HI_VOICE_OK);
        EXPECT_EQ(frame, before);
    }
}

// ---- recorder audio frames --------------------------------------------------------------

TEST(VoiceAudioFrame, DecodeClassifiesInput) {
    std::array<uint8_t, 2000> out;
    int outLength = -1;
    const Bytes tiny = {0, 1, 82};
    out.fill(0xCC);
    EXPECT_EQ(DecAudioFrame(tiny.data(), 3, out.data(), &outLength), 1);
    EXPECT_EQ(outLength, 0);
    EXPECT_EQ(out[0], 0xCC);
    EXPECT_EQ(DecAudioFrame(nullptr, 10, out.data(), &outLength), 0);
    EXPECT_EQ(DecAudioFrame(tiny.data(), 10, nullptr, &outLength), 0);
    EXPECT_EQ(DecAudioFrame(tiny.data(), 10, out.data(), nullptr), 0);

    // ADPCM and A-law frames by their headers.
    const Bytes adpcm = makeFrame(1, 82, 0x19);
    ASSERT_EQ(DecAudioFrame(adpcm.data(), static_cast<int>(adpcm.size()), out.data(), &outLength),
              1);
    EXPECT_EQ(outLength, 642);
    const Bytes alaw = makeFrame(1, 160, 0xD5);  // 0xD5: A-law +8
    ASSERT_EQ(DecAudioFrame(alaw.data(), static_cast<int>(alaw.size()), out.data(), &outLength), 1);
    EXPECT_EQ(outLength, 640);
    int16_t first;
    std::memcpy(&first, out.data(), 2);
    EXPECT_EQ(first, 8);

    // A header cut short by the length is refused rather than read past the input.
    EXPECT_EQ(DecAudioFrame(alaw.data(), 100, out.data(), &outLength), 0);

    // Raw 16-bit PCM by length, copied unchanged.
    for (int length : {640, 642, 1280, 1284, 1926}) {
        Bytes raw(static_cast<size_t>(length));
        for (int i = 0; i < length; ++i) {
            raw[i] = static_cast<uint8_t>(i * 13);
        }
        ASSERT_EQ(DecAudioFrame(raw.data(), length, out.data(), &outLength), 1);
        EXPECT_EQ(outLength, length);
        EXPECT_EQ(0, std::memcmp(out.data(), raw.data(), static_cast<size_t>(length)));
    }

    // Anything else is unsigned 8-bit PCM, shifted by 128; a voice header of another
    // length included.
    Bytes other = makeFrame(1, 40, 0x90);
    ASSERT_EQ(DecAudioFrame(other.data(), static_cast<int>(other.size()), out.data(), &outLength),
              1);
    EXPECT_EQ(outLength, static_cast<int>(other.size()));
    EXPECT_EQ(out[0], 0x80);
    EXPECT_EQ(out[1], 0x81);
    EXPECT_EQ(out[4], 0x10);
}

TEST(VoiceAudioFrame, EncodeTypes) {
    const Samples pcm = voicetest::speechLike(481);
    std::array<uint8_t, 2000> out;
    EXPECT_EQ(EncAudioFrame(1, nullptr, out.data(), 642), 0);
    EXPECT_EQ(EncAudioFrame(1, pcm.data(), nullptr, 642), 0);
    EXPECT_EQ(EncAudioFrame(1, pcm.data(), out.data(), 0), 0);
    EXPECT_EQ(EncAudioFrame(1, pcm.data(), out.data(), 964), 0);  // 482 samples

    out.fill(0xCC);
    ASSERT_EQ(EncAudioFrame(1, pcm.data(), out.data(), 642), 1);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0, 1, 82, 0}));
    EXPECT_EQ(out[168], 0xCC);
    int16_t headerSample;
    std::memcpy(&headerSample, out.data() + 4, 2);
    EXPECT_EQ(headerSample, pcm[0]);

    out.fill(0xCC);
    ASSERT_EQ(EncAudioFrame(5, pcm.data(), out.data(), 640), 1);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0, 1, 160, 0}));
    EXPECT_EQ(out[324], 0xCC);

    for (int type : {2, 3}) {
        out.fill(0xCC);
        ASSERT_EQ(EncAudioFrame(type, pcm.data(), out.data(), 101), 1);
        EXPECT_EQ(0, std::memcmp(out.data(), pcm.data(), 101));
        EXPECT_EQ(out[101], 0xCC);
    }
    out.fill(0xCC);
    EXPECT_EQ(EncAudioFrame(4, pcm.data(), out.data(), 642), 1);
    EXPECT_EQ(out[0], 0xCC);
}

// A recorder frame made by EncAudioFrame comes back from DecAudioFrame: the ADPCM frame's
// first sample exactly, the rest close to the input.
TEST(VoiceAudioFrame, RoundTrip) {
    const Samples pcm = voicetest::speechLike(3210, 9);
    for (const auto& [type, bytes] : {std::pair<int, int>{1, 642}, {5, 640}}) {
        Samples decoded, reference;
        for (size_t pos = 0; pos + bytes / 2 <= pcm.size(); pos += bytes / 2) {
            std::array<uint8_t, 700> frame;
            ASSERT_EQ(EncAudioFrame(type, pcm.data() + pos, frame.data(), bytes), 1);
            std::array<int16_t, 400> out;
            int outLength = 0;
            ASSERT_EQ(DecAudioFrame(frame.data(), 4 + 2 * frame[2], out.data(), &outLength), 1);
            ASSERT_EQ(outLength, bytes);
            if (type == 1) {
                EXPECT_EQ(out[0], pcm[pos]);
            }
            decoded.insert(decoded.end(), out.begin(), out.begin() + outLength / 2);
            reference.insert(reference.end(), pcm.begin() + pos, pcm.begin() + pos + bytes / 2);
        }
        // Each ADPCM frame starts again from the smallest step, so it settles in every frame.
        EXPECT_GT(snrDb(reference, decoded), type == 1 ? 8.0 : 30.0);
    }
}

// The codec keeps no global state: coders on different blocks run side by side and give
// what they give alone.
TEST(VoiceThreads, IndependentBlocksInParallel) {
    const Samples pcm = voicetest::mixedSignal(2400);
    auto run = [&](uint16_t id) {
        Block enc, dec;
        HI_VOICE_EncReset(enc.bytes, id);
        HI_VOICE_DecReset(dec.bytes, id);
        Samples out;
        for (size_t pos = 0; pos + 480 <= pcm.size(); pos += 480) {
            uint8_t frame[HI_VOICE_MAX_FRAME_BYTES];
            HI_VOICE_EncodeFrame(enc.bytes, pcm.data() + pos, frame, 480);
            int16_t s[HI_VOICE_MAX_SAMPLES];
            uint16_t n = 0;
            HI_VOICE_DecodeFrame(dec.bytes, frame, s, &n);
            out.insert(out.end(), s, s + n);
        }
        return out;
    };
    const uint16_t ids[] = {6, 38, 67, 68};
    std::vector<Samples> alone, together(4);
    for (uint16_t id : ids) {
        alone.push_back(run(id));
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] { together[i] = run(ids[i]); });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(alone, together);
}

}  // namespace
