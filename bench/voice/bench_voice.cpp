// Throughput of the voice codec against SpanDSP's and FFmpeg's coders on the same input in
// the same run: G.711 A-law, G.726 at 32 kbit/s and IMA/DVI ADPCM, encoding and decoding,
// in frames of 480 samples. Prints samples per second and our speed as a ratio of each.
//
//   bench_voice [seconds per comparison, default 1]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <spandsp.h>
}

#include "zelplay/voice.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFrameSamples = 480;
constexpr int kTotalSamples = 8000 * 8;  // eight seconds
constexpr int kFrames = kTotalSamples / kFrameSamples;

double gSeconds = 1.0;

std::vector<int16_t> makeInput() {
    std::vector<int16_t> pcm(kTotalSamples);
    uint32_t seed = 12345;
    for (int i = 0; i < kTotalSamples; ++i) {
        const double t = i / 8000.0;
        seed = seed * 1664525u + 1013904223u;
        const double noise = ((seed >> 8) / double(1u << 24) - 0.5) * 0.1;
        const double voiced = std::sin(2 * std::numbers::pi * 140 * t) +
                              0.5 * std::sin(2 * std::numbers::pi * 700 * t) +
                              0.3 * std::sin(2 * std::numbers::pi * 1900 * t);
        const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * t);
        pcm[i] = static_cast<int16_t>(
            std::clamp(12000 * (envelope * voiced + noise), -32768.0, 32767.0));
    }
    return pcm;
}

// Samples per second of each coder's pass over the input. The passes take turns, round after
// round, for the time budget, and each coder's fastest pass counts: on a shared machine the
// load then falls on all of them alike, and the minimum filters out the interruptions.
std::vector<double> measureTogether(const std::vector<std::function<void()>>& passes) {
    std::vector<double> fastest(passes.size(), 1e30);
    for (const auto& pass : passes) {
        pass();  // warm up
    }
    const auto start = Clock::now();
    int rounds = 0;
    while (rounds < 5 || std::chrono::duration<double>(Clock::now() - start).count() < gSeconds) {
        for (size_t k = 0; k < passes.size(); ++k) {
            const auto t0 = Clock::now();
            passes[k]();
            fastest[k] =
                std::min(fastest[k], std::chrono::duration<double>(Clock::now() - t0).count());
        }
        ++rounds;
    }
    std::vector<double> rates;
    for (double seconds : fastest) {
        rates.push_back(kTotalSamples / seconds);
    }
    return rates;
}

// ---- ours ---------------------------------------------------------------------------------

struct OursCoder {
    uint16_t id;
    std::vector<uint8_t> frames;  // kFrames frames of HI_VOICE_MAX_FRAME_BYTES each
    std::vector<int16_t> out = std::vector<int16_t>(kTotalSamples);
    alignas(8) uint8_t enc[HI_VOICE_STATE_BYTES];
    alignas(8) uint8_t dec[HI_VOICE_STATE_BYTES];

    explicit OursCoder(uint16_t codec)
        : id(codec), frames(size_t(kFrames) * HI_VOICE_MAX_FRAME_BYTES) {}

    void encode(const std::vector<int16_t>& pcm) {
        HI_VOICE_EncReset(enc, id);
        for (int f = 0; f < kFrames; ++f) {
            if (HI_VOICE_EncodeFrame(enc, pcm.data() + f * kFrameSamples,
                                     frames.data() + size_t(f) * HI_VOICE_MAX_FRAME_BYTES,
                                     kFrameSamples) != HI_VOICE_OK) {
                std::abort();
            }
        }
    }
    void decode() {
        HI_VOICE_DecReset(dec, id);
        for (int f = 0; f < kFrames; ++f) {
            uint16_t count = 0;
            if (HI_VOICE_DecodeFrame(dec, frames.data() + size_t(f) * HI_VOICE_MAX_FRAME_BYTES,
                                     out.data() + f * kFrameSamples, &count) != HI_VOICE_OK) {
                std::abort();
            }
        }
    }
};

// ---- FFmpeg -------------------------------------------------------------------------------

struct ContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

std::unique_ptr<AVCodecContext, ContextFree> openCodec(const AVCodec* codec, int bitRate) {
    if (codec == nullptr) {
        throw std::runtime_error("FFmpeg codec missing");
    }
    std::unique_ptr<AVCodecContext, ContextFree> ctx(avcodec_alloc_context3(codec));
    ctx->sample_rate = 8000;
    av_channel_layout_default(&ctx->ch_layout, 1);
    ctx->sample_fmt = AV_SAMPLE_FMT_S16;
    ctx->bit_rate = bitRate;
    ctx->bits_per_coded_sample = bitRate ? bitRate / 8000 : 0;
    ctx->frame_size = kFrameSamples;
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
        throw std::runtime_error("avcodec_open2 failed");
    }
    return ctx;
}

struct FfmpegCoder {
    std::string name;
    int bitRate;
    std::vector<std::vector<uint8_t>> packets;

    // Encodes the input in frames of the encoder's size; keeps the packets for decoding.
    void encode(const std::vector<int16_t>& pcm) {
        auto ctx = openCodec(avcodec_find_encoder_by_name(name.c_str()), bitRate);
        const int step = ctx->frame_size > 0 ? ctx->frame_size : kFrameSamples;
        std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
        std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
        packets.clear();
        for (int pos = 0; pos + step <= kTotalSamples; pos += step) {
            frame->nb_samples = step;
            frame->format = AV_SAMPLE_FMT_S16;
            av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
            av_frame_get_buffer(frame.get(), 0);
            std::memcpy(frame->data[0], pcm.data() + pos, size_t(step) * 2);
            avcodec_send_frame(ctx.get(), frame.get());
            av_frame_unref(frame.get());
            while (avcodec_receive_packet(ctx.get(), packet.get()) == 0) {
                packets.emplace_back(packet->data, packet->data + packet->size);
                av_packet_unref(packet.get());
            }
        }
    }
    void decode() {
        auto ctx = openCodec(avcodec_find_decoder_by_name(name.c_str()), bitRate);
        std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
        std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
        for (const auto& data : packets) {
            av_new_packet(packet.get(), int(data.size()));
            std::memcpy(packet->data, data.data(), data.size());
            avcodec_send_packet(ctx.get(), packet.get());
            av_packet_unref(packet.get());
            while (avcodec_receive_frame(ctx.get(), frame.get()) == 0) {
                av_frame_unref(frame.get());
            }
        }
    }
};

// ---- SpanDSP ------------------------------------------------------------------------------

struct SpanDspCoder {
    enum Kind { Alaw, G726_32, Dvi4 } kind;
    std::vector<uint8_t> coded = std::vector<uint8_t>(kTotalSamples + 16);
    std::vector<int16_t> out = std::vector<int16_t>(kTotalSamples + 16);
    int codedBytes = 0;

    void encode(const std::vector<int16_t>& pcm) {
        codedBytes = 0;
        switch (kind) {
            case Alaw: {
                g711_state_t* s = g711_init(nullptr, G711_ALAW);
                for (int f = 0; f < kFrames; ++f) {
                    codedBytes += g711_encode(s, coded.data() + codedBytes,
                                              pcm.data() + f * kFrameSamples, kFrameSamples);
                }
                g711_free(s);
                break;
            }
            case G726_32: {
                g726_state_t* s =
                    g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
                for (int f = 0; f < kFrames; ++f) {
                    codedBytes += g726_encode(s, coded.data() + codedBytes,
                                              pcm.data() + f * kFrameSamples, kFrameSamples);
                }
                g726_free(s);
                break;
            }
            case Dvi4: {
                ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
                for (int f = 0; f < kFrames; ++f) {
                    codedBytes += ima_adpcm_encode(s, coded.data() + codedBytes,
                                                   pcm.data() + f * kFrameSamples, kFrameSamples);
                }
                ima_adpcm_free(s);
                break;
            }
        }
    }
    void decode() {
        int frameBytes = codedBytes / kFrames;
        switch (kind) {
            case Alaw: {
                g711_state_t* s = g711_init(nullptr, G711_ALAW);
                for (int f = 0; f < kFrames; ++f) {
                    g711_decode(s, out.data() + f * kFrameSamples, coded.data() + f * frameBytes,
                                frameBytes);
                }
                g711_free(s);
                break;
            }
            case G726_32: {
                g726_state_t* s =
                    g726_init(nullptr, 32000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
                for (int f = 0; f < kFrames; ++f) {
                    g726_decode(s, out.data() + f * kFrameSamples, coded.data() + f * frameBytes,
                                frameBytes);
                }
                g726_free(s);
                break;
            }
            case Dvi4: {
                ima_adpcm_state_t* s = ima_adpcm_init(nullptr, IMA_ADPCM_DVI4, 0);
                for (int f = 0; f < kFrames; ++f) {
                    ima_adpcm_decode(s, out.data() + f * kFrameSamples,
                                     coded.data() + f * frameBytes, frameBytes);
                }
                ima_adpcm_free(s);
                break;
            }
        }
    }
};

void report(const char* codec, const char* op, double ours, double spandsp, double ffmpeg) {
    std::printf("%-14s %-7s %10.2f %10.2f %10.2f %9.2fx %9.2fx\n", codec, op, ours / 1e6,
                spandsp / 1e6, ffmpeg / 1e6, ours / spandsp, ours / ffmpeg);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        gSeconds = std::max(0.05, std::atof(argv[1]));
    }
    const std::vector<int16_t> pcm = makeInput();
    std::printf(
        "voice codec throughput, %d-sample frames, Msamples/s (fastest pass, coders taking turns "
        "for %.2f s)\n",
        kFrameSamples, gSeconds);
    std::printf("%-14s %-7s %10s %10s %10s %10s %10s\n", "codec", "op", "ours", "spandsp", "ffmpeg",
                "vs spandsp", "vs ffmpeg");

    struct Case {
        const char* label;
        uint16_t id;
        SpanDspCoder::Kind spandsp;
        const char* ffmpeg;
        int bitRate;
    };
    const Case cases[] = {
        {"G.711 A-law", HI_VOICE_G711A, SpanDspCoder::Alaw, "pcm_alaw", 0},
        {"G.726 32k", HI_VOICE_G726_32, SpanDspCoder::G726_32, "g726le", 32000},
        {"IMA ADPCM", HI_VOICE_ADPCM_STREAM, SpanDspCoder::Dvi4, "adpcm_ima_ssi", 0},
    };
    for (const Case& c : cases) {
        OursCoder ours(c.id);
        SpanDspCoder spandsp{c.spandsp};
        FfmpegCoder ffmpeg{c.ffmpeg, c.bitRate, {}};
        const auto e = measureTogether(
            {[&] { ours.encode(pcm); }, [&] { spandsp.encode(pcm); }, [&] { ffmpeg.encode(pcm); }});
        report(c.label, "encode", e[0], e[1], e[2]);
        const auto d = measureTogether(
            {[&] { ours.decode(); }, [&] { spandsp.decode(); }, [&] { ffmpeg.decode(); }});
        report(c.label, "decode", d[0], d[1], d[2]);
    }
    return 0;
}
