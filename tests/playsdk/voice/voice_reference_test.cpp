// Bit-exact comparisons with independent coders: SpanDSP's G.726 (which reproduces the
// ITU-T conformance sequences), its G.711 and IMA/DVI4 coders, and FFmpeg's decoders.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "ffmpeg_coder.h"
#include "voice_signals.h"
#include "zelplay/voice.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;

constexpr int kFrameSamples = 320;

struct Block {
    alignas(8) uint8_t bytes[HI_VOICE_STATE_BYTES] = {};
};

// Index of the first difference, or -1.
template <typename T>
long firstDifference(const std::vector<T>& a, const std::vector<T>& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return static_cast<long>(i);
        }
    }
    return a.size() == b.size() ? -1 : static_cast<long>(n);
}

// Encodes the signal frame by frame with one state block; returns the frames.
std::vector<Bytes> encodeFrames(uint16_t id, const Samples& pcm, int frameSamples) {
    Block state;
    EXPECT_EQ(HI_VOICE_EncReset(state.bytes, id), HI_VOICE_OK);
    std::vector<Bytes> frames;
    for (size_t pos = 0; pos + frameSamples <= pcm.size(); pos += frameSamples) {
        Bytes frame(HI_VOICE_MAX_FRAME_BYTES);
        EXPECT_EQ(HI_VOICE_EncodeFrame(state.bytes, pcm.data() + pos, frame.data(), frameSamples),
                  HI_VOICE_OK);
        frame.resize(4 + 2 * frame[2]);
        frames.push_back(std::move(frame));
    }
    return frames;
}

Samples decodeFrames(uint16_t id, const std::vector<Bytes>& frames) {
    Block state;
    EXPECT_EQ(HI_VOICE_DecReset(state.bytes, id), HI_VOICE_OK);
    Samples out;
    for (const Bytes& frame : frames) {
        int16_t pcm[HI_VOICE_MAX_SAMPLES];
        uint16_t count = 0;
        EXPECT_EQ(HI_VOICE_DecodeFrame(state.bytes, frame.data(), pcm, &count), HI_VOICE_OK);
        out.insert(out.end(), pcm, pcm + count);
    }
    return out;
}

Bytes payloads(const std::vector<Bytes>& frames, size_t skip = 0) {
    Bytes out;
    for (const Bytes& f : frames) {
        out.insert(out.end(), f.begin() + 4 + static_cast<long>(skip), f.end());
    }
    return out;
}

// Signal-to-noise ratio of b against a, in dB.
double snrDb(const Samples& a, const Samples& b) {
    double signal = 0, error = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        signal += double(a[i]) * a[i];
        error += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    return 10 * std::log10(signal / std::max(error, 1.0));
}

// ---- G.711 ---------------------------------------------------------------------------------

TEST(VoiceReference, G711DecodesEveryCodeLikeSpanDspAndFfmpeg) {
    Bytes codes(256);
    for (int c = 0; c < 256; ++c) {
        codes[c] = static_cast<uint8_t>(c);
    }
    for (const bool alaw : {true, false}) {
        // Our decoder through frames of 160 codes (two frames cover all 256 codes, repeated).
        Bytes stream = codes;
        stream.insert(stream.end(), codes.begin(), codes.begin() + 64);  // 320 codes
        Bytes frame = {0, 1, 160, 0};
        frame.insert(frame.end(), stream.begin(), stream.end());
        Block state;
        ASSERT_EQ(HI_VOICE_DecReset(state.bytes, alaw ? HI_VOICE_G711A : HI_VOICE_G711U), 0);
        int16_t pcm[HI_VOICE_MAX_SAMPLES];
        uint16_t count = 0;
        ASSERT_EQ(HI_VOICE_DecodeFrame(state.bytes, frame.data(), pcm, &count), 0);
        ASSERT_EQ(count, 320);
        const Samples ours(pcm, pcm + 256);
        Samples spandsp(256);
        for (int c = 0; c < 256; ++c) {
            spandsp[c] = alaw ? alaw_to_linear(static_cast<uint8_t>(c))
                              : ulaw_to_linear(static_cast<uint8_t>(c));
        }
        EXPECT_EQ(firstDifference(ours, spandsp), -1) << (alaw ? "A-law" : "mu-law");
        const Samples ffmpeg = voicetest::ffmpegDecode(alaw ? "pcm_alaw" : "pcm_mulaw", {codes});
        EXPECT_EQ(firstDifference(ours, ffmpeg), -1) << (alaw ? "A-law" : "mu-law");
    }
}

// Every 16-bit input lands in the decision interval that G.711's segment rule gives it:
// truncation to 13 (A-law) or 14 (mu-law) bits, negative values by their one's complement.
TEST(VoiceReference, G711EncodesAllInputsByTheSegmentRule) {
    Block alawState, ulawState;
    ASSERT_EQ(HI_VOICE_EncReset(alawState.bytes, HI_VOICE_G711A), 0);
    ASSERT_EQ(HI_VOICE_EncReset(ulawState.bytes, HI_VOICE_G711U), 0);
    Samples all(65536);
    for (int v = 0; v < 65536; ++v) {
        all[v] = static_cast<int16_t>(v - 32768);
    }
    Bytes alaw, ulaw;
    for (size_t pos = 0; pos < all.size(); pos += 480) {
        const int n = static_cast<int>(std::min<size_t>(480, all.size() - pos));
        uint8_t frame[4 + 480];
        ASSERT_EQ(HI_VOICE_EncodeFrame(alawState.bytes, all.data() + pos, frame, n), 0);
        alaw.insert(alaw.end(), frame + 4, frame + 4 + n);
        ASSERT_EQ(HI_VOICE_EncodeFrame(ulawState.bytes, all.data() + pos, frame, n), 0);
        ulaw.insert(ulaw.end(), frame + 4, frame + 4 + n);
    }
    ASSERT_EQ(alaw.size(), 65536u);
    int mismatches = 0;
    for (int v = 0; v < 65536 && mismatches < 5; ++v) {
        const int x = v - 32768;
        const bool positive = x >= 0;
        const int oc = positive ? x : -x - 1;  // one's complement magnitude

        // A-law: 12-bit magnitude; segment 0 is [0, 32) in steps of 2, segment s >= 1 is
        // [16 << s, 32 << s) in steps of 1 << s.
        const int a = oc >> 3;
        int seg = 0;
        while (seg < 7 && a >= (32 << seg)) {
            ++seg;
        }
        const int aStep = seg == 0 ? 2 : 1 << seg;
        const int aBase = seg == 0 ? 0 : 16 << seg;
        const int aCode = ((positive ? 0x80 : 0) | seg << 4 | ((a - aBase) / aStep)) ^ 0x55;
        if (alaw[v] != aCode) {
            ADD_FAILURE() << "A-law " << x << ": " << int(alaw[v]) << " != " << aCode;
            ++mismatches;
        }
        if (alaw[v] != linear_to_alaw(x)) {
            ADD_FAILURE() << "A-law " << x << " differs from SpanDSP";
            ++mismatches;
        }

        // mu-law: 13-bit magnitude plus 33, clipped at 8191; segment s is [32 << s, 64 << s)
        // in steps of 2 << s; the code is sent inverted.
        const int u = std::min((oc >> 2) + 33, 8191);
        int useg = 0;
        while (useg < 7 && u >= (64 << useg)) {
            ++useg;
        }
        const int uCode =
            0xFF & ~((positive ? 0 : 0x80) | useg << 4 | ((u - (32 << useg)) >> (useg + 1)));
        if (ulaw[v] != uCode) {
            ADD_FAILURE() << "mu-law " << x << ": " << int(ulaw[v]) << " != " << uCode;
            ++mismatches;
        }
        // And the decoded value lies within half a step of the input (truncation error).
        const int decoded = ulaw_to_linear(ulaw[v]);
        const int halfStep = (2 << useg) * 4 / 2;
        if (u < 8191 && std::abs(decoded - x) > halfStep + 4) {
            ADD_FAILURE() << "mu-law " << x << " decodes to " << decoded;
            ++mismatches;
        }
    }
}

// ---- G.726 ---------------------------------------------------------------------------------

struct G726Case {
    int rate;
    uint16_t id;
    int packing;
    const char* ffmpegName;
};

class VoiceG726Reference : public ::testing::TestWithParam<G726Case> {};

// Codes and samples equal SpanDSP's coder over speech, noise and full-scale signals, with the
// state carried across frames of 320 samples.
TEST_P(VoiceG726Reference, MatchesSpanDspBitForBit) {
    const G726Case c = GetParam();
    const Samples pcm = voicetest::mixedSignal(8000);
    const auto frames = encodeFrames(c.id, pcm, kFrameSamples);
    ASSERT_EQ(frames.size(), pcm.size() / kFrameSamples);
    const int bits = c.rate / 8000;
    for (const Bytes& f : frames) {
        ASSERT_EQ(f[2], kFrameSamples * bits / 16);
    }
    const Bytes ours = payloads(frames);

    g726_state_t* enc = g726_init(nullptr, c.rate, G726_ENCODING_LINEAR, c.packing);
    Bytes reference(pcm.size());
    reference.resize(static_cast<size_t>(
        g726_encode(enc, reference.data(), pcm.data(), static_cast<int>(pcm.size()))));
    g726_free(enc);
    EXPECT_EQ(firstDifference(ours, reference), -1);

    const Samples decoded = decodeFrames(c.id, frames);
    g726_state_t* dec = g726_init(nullptr, c.rate, G726_ENCODING_LINEAR, c.packing);
    Samples referenceDecoded(pcm.size());
    referenceDecoded.resize(static_cast<size_t>(g726_decode(
        dec, referenceDecoded.data(), reference.data(), static_cast<int>(reference.size()))));
    g726_free(dec);
    EXPECT_EQ(firstDifference(decoded, referenceDecoded), -1);
}

// FFmpeg's G.726 is not bit-exact with the standard, but it reads our frames' layout: its
// output follows ours closely.
TEST_P(VoiceG726Reference, FramesDecodeInFfmpeg) {
    const G726Case c = GetParam();
    const Samples pcm = voicetest::speechLike(16000);
    const auto frames = encodeFrames(c.id, pcm, kFrameSamples);
    const Samples ours = decodeFrames(c.id, frames);
    std::vector<Bytes> packets;
    for (const Bytes& f : frames) {
        packets.emplace_back(f.begin() + 4, f.end());
    }
    const Samples ffmpeg = voicetest::ffmpegDecode(c.ffmpegName, packets, c.rate / 8000);
    ASSERT_EQ(ffmpeg.size(), ours.size());
    if (c.rate == 40000) {
        // FFmpeg's 40 kbit/s coder drifts from the standard's arithmetic far more than its
        // other rates; a misread layout would still give noise below 0 dB.
        EXPECT_GT(snrDb(pcm, ffmpeg), 6.0);
    } else {
        EXPECT_GT(snrDb(ours, ffmpeg), 30.0);
    }
}

INSTANTIATE_TEST_SUITE_P(AllRates, VoiceG726Reference,
                         ::testing::Values(G726Case{16000, 4, G726_PACKING_RIGHT, "g726le"},
                                           G726Case{24000, 5, G726_PACKING_RIGHT, "g726le"},
                                           G726Case{32000, 6, G726_PACKING_RIGHT, "g726le"},
                                           G726Case{40000, 7, G726_PACKING_RIGHT, "g726le"},
                                           G726Case{16000, 36, G726_PACKING_LEFT, "g726"},
                                           G726Case{24000, 37, G726_PACKING_LEFT, "g726"},
                                           G726Case{32000, 38, G726_PACKING_LEFT, "g726"},
                                           G726Case{40000, 39, G726_PACKING_LEFT, "g726"}),
                         [](const auto& info) { return "Id" + std::to_string(info.param.id); });

// Id 68 carries SpanDSP's 16 kbit/s codes, eight to a little-endian word, first code in the
// top two bits.
TEST(VoiceReference, G726WordsMatchSpanDspCodes) {
    const Samples pcm = voicetest::mixedSignal(8000);
    const auto frames = encodeFrames(HI_VOICE_G726_16_WORDS, pcm, kFrameSamples);
    g726_state_t* enc = g726_init(nullptr, 16000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
    Bytes codes(pcm.size());
    ASSERT_EQ(g726_encode(enc, codes.data(), pcm.data(), static_cast<int>(pcm.size())),
              static_cast<int>(pcm.size()));
    g726_free(enc);
    Bytes expected;
    for (size_t i = 0; i < codes.size(); i += 8) {
        unsigned word = 0;
        for (int k = 0; k < 8; ++k) {
            word = word << 2 | codes[i + k];
        }
        expected.push_back(static_cast<uint8_t>(word));
        expected.push_back(static_cast<uint8_t>(word >> 8));
    }
    EXPECT_EQ(firstDifference(payloads(frames), expected), -1);

    g726_state_t* dec = g726_init(nullptr, 16000, G726_ENCODING_LINEAR, G726_PACKING_NONE);
    Samples reference(pcm.size());
    g726_decode(dec, reference.data(), codes.data(), static_cast<int>(codes.size()));
    g726_free(dec);
    EXPECT_EQ(firstDifference(decodeFrames(HI_VOICE_G726_16_WORDS, frames), reference), -1);
}

// ---- IMA ADPCM -----------------------------------------------------------------------------

// SpanDSP's DVI4 coder starts each call with a 4-byte block header (predictor and step index,
// here 0 and 0); the codes follow, first sample in the high nibble.
Bytes spandspDvi4Encode(const Samples& pcm) {
    ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    Bytes out(pcm.size() + 4);
    out.resize(static_cast<size_t>(
        ima_adpcm_encode(s, out.data(), pcm.data(), static_cast<int>(pcm.size()))));
    ima_adpcm_free(s);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), Bytes(4, 0));
    return Bytes(out.begin() + 4, out.end());
}

Samples spandspDvi4Decode(const Bytes& codes) {
    ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
    Bytes block(4, 0);
    block.insert(block.end(), codes.begin(), codes.end());
    Samples out(codes.size() * 2);
    out.resize(static_cast<size_t>(
        ima_adpcm_decode(s, out.data(), block.data(), static_cast<int>(block.size()))));
    ima_adpcm_free(s);
    return out;
}

// Id 67 carries the predictor from frame to frame, so its payloads form one continuous
// headerless stream: the same codes as SpanDSP's DVI4 and FFmpeg's SSI coders.
TEST(VoiceReference, AdpcmStreamMatchesSpanDspAndFfmpeg) {
    const Samples pcm = voicetest::mixedSignal(8000);
    const auto frames = encodeFrames(HI_VOICE_ADPCM_STREAM, pcm, kFrameSamples);
    const Bytes ours = payloads(frames);
    const Bytes spandsp = spandspDvi4Encode(pcm);
    EXPECT_EQ(firstDifference(ours, spandsp), -1);
    const Samples decoded = decodeFrames(HI_VOICE_ADPCM_STREAM, frames);
    EXPECT_EQ(firstDifference(decoded, spandspDvi4Decode(spandsp)), -1);

    std::vector<Bytes> packets;
    for (const Bytes& f : frames) {
        packets.emplace_back(f.begin() + 4, f.end());
    }
    EXPECT_EQ(firstDifference(decoded, voicetest::ffmpegDecode("adpcm_ima_ssi", packets)), -1);
    // FFmpeg's encoder works in frames of its own size and drops a last partial one.
    const Bytes ffmpeg = voicetest::ffmpegEncode("adpcm_ima_ssi", pcm, kFrameSamples);
    ASSERT_GT(ffmpeg.size(), ours.size() * 9 / 10);
    ASSERT_LE(ffmpeg.size(), ours.size());
    EXPECT_EQ(firstDifference(Bytes(ours.begin(), ours.begin() + static_cast<long>(ffmpeg.size())),
                              ffmpeg),
              -1);
}

// Id 3 frames hold the same codes behind a header with the predictor at the frame's start.
TEST(VoiceReference, AdpcmHeaderFramesCarryTheSameCodes) {
    const Samples pcm = voicetest::mixedSignal(4000);
    const auto frames = encodeFrames(HI_VOICE_ADPCM, pcm, kFrameSamples);
    EXPECT_EQ(firstDifference(payloads(frames, 4), spandspDvi4Encode(pcm)), -1);
    const Samples stream = decodeFrames(HI_VOICE_ADPCM_STREAM,
                                        encodeFrames(HI_VOICE_ADPCM_STREAM, pcm, kFrameSamples));
    const Samples decoded = decodeFrames(HI_VOICE_ADPCM, frames);
    EXPECT_EQ(firstDifference(decoded, stream), -1);
    // Each header holds the decoder's state after the previous frame.
    for (size_t i = 1; i < frames.size(); ++i) {
        const int16_t predicted = static_cast<int16_t>(frames[i][4] | frames[i][5] << 8);
        EXPECT_EQ(predicted, stream[i * kFrameSamples - 1]) << "frame " << i;
        EXPECT_LE(frames[i][6], 88);
        EXPECT_EQ(frames[i][7], 0);
    }
}

// An id 35 frame of a fresh encoder whose first sample is 0 starts from predictor 0 and step
// index 0, as SpanDSP does: its codes, nibbles swapped back, are SpanDSP's.
TEST(VoiceReference, AdpcmFirstSampleFrameMatchesSpanDsp) {
    Samples pcm = voicetest::speechLike(321, 5);
    pcm[0] = 0;
    Bytes frame(4 + 2 * 82);
    ASSERT_EQ(EncAudioFrame(1, pcm.data(), frame.data(), 642), 1);
    ASSERT_EQ(frame[2], 82);
    Bytes codes(frame.begin() + 8, frame.end());
    for (uint8_t& b : codes) {
        b = static_cast<uint8_t>(b << 4 | b >> 4);
    }
    EXPECT_EQ(firstDifference(codes, spandspDvi4Encode(Samples(pcm.begin() + 1, pcm.end()))), -1);
}

}  // namespace
