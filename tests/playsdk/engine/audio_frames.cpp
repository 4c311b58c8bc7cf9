#include "audio_frames.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <numbers>

#include "zelplay/voice.h"

namespace enginetest {

AudioClass audioClass(AudioKind kind) {
    switch (kind) {
        case AudioKind::Alaw:
            return {16, 8000, 320};
        case AudioKind::Adpcm:
            return {16, 8000, 321};
        case AudioKind::Raw8:
            return {8, 8000, 320};
        case AudioKind::Raw16:
            return {16, 16000, 320};
    }
    return {};
}

ToneFrames::ToneFrames(AudioKind kind, double hz, double amplitude)
    : kind_(kind), hz_(hz), amplitude_(amplitude), rate_(audioClass(kind).rate) {}

double ToneFrames::sample() {
    const double t = static_cast<double>(at_++) / rate_;
    return amplitude_ * std::sin(2 * std::numbers::pi * hz_ * t);
}

std::vector<uint8_t> ToneFrames::nextPayload(size_t rawBytes) {
    const AudioClass c = audioClass(kind_);
    if (kind_ == AudioKind::Raw8) {
        std::vector<uint8_t> out(rawBytes != 0 ? rawBytes : 320);
        for (uint8_t& b : out)  // unsigned samples; DecAudioFrame makes them signed
            b = static_cast<uint8_t>(128 + std::lround(sample() / 128));
        return out;
    }
    const size_t samples = kind_ == AudioKind::Raw16 && rawBytes != 0
                               ? rawBytes / 2
                               : static_cast<size_t>(c.samplesPerFrame);
    std::vector<int16_t> pcm(samples);
    for (int16_t& s : pcm)
        s = static_cast<int16_t>(std::lround(sample()));
    if (kind_ == AudioKind::Raw16) {
        std::vector<uint8_t> out(samples * 2);
        for (size_t i = 0; i < samples; ++i) {
            out[2 * i] = static_cast<uint8_t>(pcm[i]);
            out[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(pcm[i]) >> 8);
        }
        return out;
    }
    std::vector<uint8_t> frame(4 + 2 * 255);
    const int type = kind_ == AudioKind::Alaw ? 5 : 1;
    if (EncAudioFrame(type, pcm.data(), frame.data(), static_cast<int>(pcm.size() * 2)) != 1)
        return {};
    frame.resize(4 + 2 * static_cast<size_t>(frame[2]));
    return frame;
}

std::vector<uint8_t> ToneFrames::nextRecord() {
    const auto stampMs = static_cast<uint32_t>(1000 + at_ * 1000 / static_cast<uint64_t>(rate_));
    const std::vector<uint8_t> payload = nextPayload();
    std::vector<uint8_t> r(40 + payload.size(), 0);
    const uint32_t n = records_++;
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            r[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    r[0] = 0x61;
    put32(12, static_cast<uint32_t>(payload.size()));
    put32(20, n + 1);
    put32(24, stampMs);
    std::copy(payload.begin(), payload.end(), r.begin() + 40);
    return r;
}

double HeardSound::rms(size_t from, size_t count) const {
    double energy = 0;
    const size_t end = std::min(samples.size(), from + count);
    for (size_t i = from; i < end; ++i)
        energy += static_cast<double>(samples[i]) * samples[i];
    return end > from ? std::sqrt(energy / static_cast<double>(end - from)) : 0.0;
}

HeardSound analyseRecording(const std::string& path, int bits, int rate, bool samplesSigned) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    HeardSound h;
    if (bits == 8) {
        for (char b : bytes) {
            h.samples.push_back(samplesSigned ? static_cast<int8_t>(b)
                                              : static_cast<uint8_t>(b) - 128);
        }
    } else {
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            h.samples.push_back(static_cast<int16_t>(static_cast<uint8_t>(bytes[i]) |
                                                     static_cast<uint8_t>(bytes[i + 1]) << 8));
    }
    // Silence is below 1 % of full scale; the tone's crossings are counted between -1/4
    // and +1/4 of its peak so that coding noise near zero does not count.
    const int quiet = bits == 8 ? 2 : 200;
    auto loud = [&](int s) { return std::abs(s) >= quiet; };
    const auto firstLoud = std::find_if(h.samples.begin(), h.samples.end(), loud);
    if (firstLoud == h.samples.end())
        return h;
    const auto lastLoud = std::find_if(h.samples.rbegin(), h.samples.rend(), loud);
    h.first = static_cast<size_t>(firstLoud - h.samples.begin());
    h.length = static_cast<size_t>(h.samples.rend() - lastLoud) - h.first;
    int peak = 0;
    for (size_t i = h.first; i < h.first + h.length; ++i)
        peak = std::max(peak, std::abs(h.samples[i]));
    const int band = peak / 4;
    bool low = false;
    long crossings = 0;
    size_t run = 0;
    for (size_t i = h.first; i < h.first + h.length; ++i) {
        const int s = h.samples[i];
        if (s < -band)
            low = true;
        if (s > band && low) {
            ++crossings;
            low = false;
        }
        run = loud(s) ? 0 : run + 1;
        h.longestQuiet = std::max(h.longestQuiet, run);
    }
    h.hz = static_cast<double>(crossings) * rate / static_cast<double>(h.length);
    return h;
}

}  // namespace enginetest
